// The recording header of a PELMO spectrum carried in the comment line of a
// two-column text, so that a text written by `korax convert` reads back with
// its date, settings and axis and converts back to the same PELMO file.
#pragma once

#include "spectrum/store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korax {

struct CarriedHeader {
    SpectrumHeader header; // the comment included
    std::int32_t points = 0;
    double fstart = 0, fend = 0, fstep = 0;
};

// The comment line without its line end: the 72 characters of COMENT as they
// are (so that every reader of the text takes the same comment), then
// " |PELMO header|" and every other field by name, 32-bit values in their
// shortest exact decimal (non-finite ones as their bits, 0x7fc00000), the axis
// at full precision, character fields between brackets at their full width.
std::string header_line(const SpectrumHeader& header, std::int32_t points, double fstart,
                        double fend, double fstep);

// The header of a comment line that header_line wrote, to the last bit;
// nullopt for any other line (also one edited since, or cut).
std::optional<CarriedHeader> carried_header(std::string_view line);

} // namespace korax

// Spectra read into arrays of their own instead of the store: the same formats,
// checks and axis linearisation as the interactive load, drawing nothing, so
// that the batch commands can read several spectra at once and the viewer a
// reference spectrum beside the one in work.
#pragma once

#include "spectrum/store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace korax {

struct Spectrum {
    enum class Format { Pelmo, Ascii };

    std::string name; // as given (see opening_name), kept whole
    Format format = Format::Pelmo;
    SpectrumHeader header;
    std::int32_t npts = 0;
    double fstart = 0, fend = 0, fstep = 0;
    std::int32_t iymin = 0, iymax = 0; // extremes as the interactive load leaves them
    // 1-based like the store, with one spare point past the end.
    std::vector<double> freq;
    std::vector<std::int32_t> intens;
    // Set when the axis of a text file was resampled onto the linear axis: the
    // largest deviation from it and the point where it occurred.
    bool linearised = false;
    float max_deviation = 0;
    std::int32_t max_deviation_at = 0;
    // Text spectra only: what a comment line written by `korax convert` gave
    // back (see AsciiSpectrum): the recording header, the intensities as they
    // were (not rescaled), the stored end and step of the axis.
    bool header_carried = false;
    bool rescaled = false;
    bool axis_carried = false;
};

// The name under which a given spectrum opens: as given, or with "/" for "\"
// when only that form exists, as at the file prompt.
std::string opening_name(const std::string& given);

// Reads `path` (through opening_name) as the interactive program would: PELMO when the header's
// date is plausible, two-column text otherwise. Returns an empty string on success, else why the
// file was refused, in one line without the file name.
[[nodiscard]] std::string load_spectrum(const std::string& path, Spectrum& spectrum);

} // namespace korax

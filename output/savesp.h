// Saving the spectrum in work as a PELMO binary file.
#pragma once

#include "driver/store.h"

#include <cstdint>
#include <span>
#include <string>

namespace korax {

void SAVESP();
// How many times SAVESP has put a file in place during this run, so that the
// viewer can tell a save from a dialog left without one.
[[nodiscard]] std::uint64_t spectrum_saves();

// How the working intensities are brought into 16 bits: centred on the middle
// of their range and, when that range is wider than 60000, compressed to it.
struct SaveScaling {
    std::int32_t lo = 1000000000;  // smallest intensity (stays at this sentinel when empty)
    std::int32_t hi = -1000000000; // largest intensity
    std::int32_t mid = 0;          // (lo + hi) / 2, truncated toward zero
    float factor = 1.0f;           // 60000 / (hi - lo) when that is below 1, else exactly 1
};
SaveScaling save_scaling(std::span<const std::int32_t> intensities);
// (v - mid) * factor in single precision, truncated toward zero.
std::int16_t scaled_intensity(std::int32_t v, const SaveScaling& scaling);

// The complete file as written by SAVESP: header, count block, intensities,
// frequency block and a 16-bit zero trailer, little-endian.
std::string pelmo_file_image(const SpectrumHeader& header,
                             std::span<const std::int32_t> intensities, double fstart, double fend,
                             double fstep, const SaveScaling& scaling);

} // namespace korax

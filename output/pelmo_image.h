// The spectrum in work as the bytes of a PELMO file, for the M key and for
// `korax convert`: the intensities brought into 16 bits, and the whole file
// composed in one buffer so that it can be handed to SafeFile in one write.
#pragma once

#include "spectrum/store.h"

#include <cstdint>
#include <span>
#include <string>

namespace korax {

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

// The complete file: header, count block (the short form for 2 to 32000
// points, else the long one), intensities, frequency block and a 16-bit zero
// trailer.
std::string pelmo_file_image(const SpectrumHeader& header,
                             std::span<const std::int32_t> intensities, double fstart, double fend,
                             double fstep, const SaveScaling& scaling);

} // namespace korax

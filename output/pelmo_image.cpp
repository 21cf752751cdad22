// The bytes of a saved spectrum. The layout itself is input/pelmo_format's;
// this file decides the scaling and the count form a save uses.
#include "output/pelmo_image.h"

#include "input/pelmo_format.h"

#include <cmath>

namespace korax {

SaveScaling save_scaling(std::span<const std::int32_t> intensities) {
    SaveScaling s;
    for (std::int32_t v : intensities) {
        if (v < s.lo) s.lo = v;
        if (v > s.hi) s.hi = v;
    }
    // In 64 bits: the sum and the difference of two extreme 32-bit intensities
    // would overflow.
    const std::int64_t lo = s.lo, hi = s.hi;
    s.mid = static_cast<std::int32_t>((lo + hi) / 2);
    if (hi - lo > 60000) s.factor = 60000.0f / static_cast<float>(hi - lo);
    return s;
}

std::int16_t scaled_intensity(std::int32_t v, const SaveScaling& scaling) {
    const auto centred = static_cast<float>(std::int64_t{v} - scaling.mid);
    // Within [-30000, 30000] by the choice of mid and factor.
    return static_cast<std::int16_t>(std::trunc(centred * scaling.factor));
}

std::string pelmo_file_image(const SpectrumHeader& header,
                             std::span<const std::int32_t> intensities, double fstart, double fend,
                             double fstep, const SaveScaling& scaling) {
    const std::size_t n = intensities.size();
    std::string image(PELMO_HEADER_BYTES + PELMO_COUNT_BYTES + 2 * n + PELMO_AXIS_BYTES + 2, '\0');
    auto* p = reinterpret_cast<unsigned char*>(image.data());
    encode_pelmo_header(header,
                        std::span<unsigned char, PELMO_HEADER_BYTES>(p, PELMO_HEADER_BYTES));
    p += PELMO_HEADER_BYTES;
    // A count word of 1 or less announces the long form to the reader, so a
    // single point (or none) has to go in the long form as well.
    PelmoCount count;
    if (n >= 2 && n <= 32000) {
        count.word = static_cast<std::int16_t>(n);
        count.lowest = scaled_intensity(scaling.lo, scaling);
        count.highest = scaled_intensity(scaling.hi, scaling);
    } else {
        count.word = -1;
        count.long_count = static_cast<std::int32_t>(static_cast<std::uint32_t>(n));
    }
    encode_pelmo_count(count, std::span<unsigned char, PELMO_COUNT_BYTES>(p, PELMO_COUNT_BYTES));
    p += PELMO_COUNT_BYTES;
    const std::int64_t mid = scaling.mid;
    if (scaling.factor == 1.0f) {
        // The common case, kept free of float conversions; identical results
        // because |v - mid| <= 30000 is exact in single precision.
        for (std::int32_t v : intensities) {
            put_le(p, static_cast<std::int16_t>(std::int64_t{v} - mid));
            p += 2;
        }
    } else {
        for (std::int32_t v : intensities) {
            put_le(p, scaled_intensity(v, scaling));
            p += 2;
        }
    }
    encode_pelmo_axis({fstart, fend, fstep},
                      std::span<unsigned char, PELMO_AXIS_BYTES>(p, PELMO_AXIS_BYTES));
    // The two trailing bytes stay zero.
    return image;
}

} // namespace korax

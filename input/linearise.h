// The check of an ASCII spectrum's frequency axis against the straight line
// from its first to its last frequency, and the resampling onto that line.
#pragma once

#include <cstdint>
#include <span>

namespace korax {

// Statistics over points 2..n, each rounded to a 32-bit float before it is
// compared or summed; the first point that reaches an extreme is the one named.
struct AxisStatistics {
    float max_deviation = 0.0f;
    std::int32_t max_deviation_at = 0;
    float max_step = -1.0e20f;
    std::int32_t max_step_at = 0;
    float min_step = 1.0e20f;
    std::int32_t min_step_at = 0;
    float sum_deviation = 0.0f;
};

// `freq` is 1-based: freq[1 .. n] with n = freq.size() - 1.
AxisStatistics axis_statistics(std::span<const double> freq, double fstart, double fstep);

// Moves points 2..n-1 onto fstart + (i-1)*fstep by linear interpolation between
// their read neighbours; points 1 and n are kept. `scratch` takes the new
// intensities before they replace the old ones. All spans are 1-based and of
// equal size; the frequencies must not decrease and fstep must be positive.
void resample_linear(std::span<double> freq, std::span<std::int32_t> intens,
                     std::span<std::int32_t> scratch, double fstart, double fstep);

} // namespace korax

// Savitzky-Golay smoothing and baseline subtraction: SMOOTH's dialog, the
// convolution (smooth_kernel.cpp) and the reading of the typed answer. The
// passes of each mode are analysis/smoothing_passes.h's.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace korax {

// MODE 1 smoothing, 2 baseline subtraction (with prompt), 3 final fine-control
// passes. Writes its screens; see the viewer's N and B keys for the callers.
void SMOOTH(std::int32_t& MODE, std::int32_t& CUTLO, std::int32_t& CUTHI, std::int32_t& NSMOOT);

// Coefficients of the 2m+1 point window, single precision, COEF[k + m] for k = -m..m.
void smoothing_coefficients(int m, std::span<float> coef);
// One pass over n points from `in` into `out` (1-based spans of n + 1 elements:
// element 0 unused), mirrored ends; bit-identical to summing k = -m..m in order
// in double precision.
void smooth_pass(std::span<const std::int32_t> in, std::span<std::int32_t> out, std::int32_t n,
                 std::span<const float> coef);
// The same with a given number of threads (1 = the calling thread only); for
// benchmarks. smooth_pass picks the number itself.
void smooth_pass_threads(std::span<const std::int32_t> in, std::span<std::int32_t> out,
                         std::int32_t n, std::span<const float> coef, int threads);

// The point read for position j (any integer) of a spectrum of n points: the
// ends are mirrors with the end point repeated (0 -> 1, n + 1 -> n), and a
// window wider than the spectrum is mirrored again at the other end, so every
// read stays inside 1..n.
std::int32_t mirror_index(std::int64_t j, std::int32_t n);

// A computed intensity back to an integer: truncation toward zero, saturated at
// the ends of the 32-bit range instead of overflowing; NaN gives 0. Inline: the
// passes over whole spectra call it for every point.
inline std::int32_t saturate_intensity(double value) {
    if (std::isnan(value)) return 0;
    if (value <= -2147483649.0) return INT32_MIN;
    if (value >= 2147483648.0) return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

// The typed answer at the N (mode 1) or B (mode 2) prompt: the window length to
// keep in NSMOOT, and whether fine control was asked for; nullopt repeats the
// prompt.
struct SmoothingAnswer {
    std::int32_t nsmoot = 0;
    bool fine = false;
};
std::optional<SmoothingAnswer> accept_smoothing_answer(int mode, std::string_view line);

} // namespace korax

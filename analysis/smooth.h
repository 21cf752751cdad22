// Savitzky-Golay smoothing and baseline subtraction.
#pragma once

#include <cstdint>
#include <span>

namespace korax {

// MODE 1 smoothing, 2 baseline subtraction (with prompt), 3 final fine-control
// passes. Writes its screens; see the viewer's N and B keys for the callers.
void SMOOTH(std::int32_t& MODE, std::int32_t& CUTLO, std::int32_t& CUTHI,
            std::int32_t& NSMOOT);

// Coefficients of the 2m+1 point window, single precision, COEF[k + m] for k = -m..m.
void smoothing_coefficients(int m, std::span<float> coef);
// One pass over n points from `in` into `out` (1-based spans of n + 1 elements:
// element 0 unused), mirrored ends; bit-identical to summing k = -m..m in order
// in double precision.
void smooth_pass(std::span<const std::int32_t> in, std::span<std::int32_t> out, std::int32_t n,
                 std::span<const float> coef);

} // namespace korax

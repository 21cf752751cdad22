// Display interpolation: when fewer than 512 points are on screen the trace is
// drawn through three-point quadratic interpolants at the half-way points,
// halving the step pass by pass until more than 512 points result.
#include "viewer/display.h"
#include "viewer/reference.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace korax {

std::int32_t interp_expand(std::span<const std::int32_t> y, std::span<std::int32_t, MAXEXP + 2> out,
                           std::int32_t& ixexp) {
    auto n = static_cast<std::int32_t>(y.size());
    assert(n <= 512 && "interpolation is for short displayed ranges only");
    if (n < 3) {
        // No quadratic through fewer than three points; the viewer never shows
        // fewer than four, but a copy is the harmless answer.
        std::copy(y.begin(), y.end(), out.begin() + 1);
        return n;
    }

    // Each pass reads the previous one as floats; its values are integers
    // already, since every output point is truncated.
    std::array<double, MAXEXP + 2> d{};
    for (std::int32_t k = 1; k <= n; ++k)
        d[static_cast<std::size_t>(k)] = y[static_cast<std::size_t>(k - 1)];

    for (;;) {
        auto D = [&](std::int32_t k) { return d[static_cast<std::size_t>(k)]; };
        auto O = [&](std::int32_t k) -> std::int32_t& { return out[static_cast<std::size_t>(k)]; };
        for (std::int32_t k = 1; k <= n; ++k)
            O(2 * k - 1) = to_intensity(D(k));
        for (std::int32_t k = 1; k <= n - 2; ++k)
            O(2 * k) = to_intensity(0.375 * D(k) + 0.75 * D(k + 1) - 0.125 * D(k + 2));
        // The last interval has no point beyond it: the parabola of the last
        // three points is used looking backwards.
        O(2 * n - 2) = to_intensity(0.75 * D(n - 1) + 0.375 * D(n) - 0.125 * D(n - 2));
        n = 2 * n - 1;
        ixexp *= 2;
        if (n > 512) break;
        for (std::int32_t k = 1; k <= n; ++k)
            d[static_cast<std::size_t>(k)] = O(k);
    }
    return n;
}

void INTERP(double& FLOW, double& FHIGH, std::int32_t& IFIRST, std::int32_t& ILAST,
            std::int32_t& NEXP, std::int32_t& IXEXP, ViewerState& v) {
    auto n = static_cast<std::size_t>(ILAST - IFIRST + 1);
    // The trace shown: the spectrum's points, or the difference in its mode.
    const std::span<const std::int32_t> y =
        shown_trace(IFIRST, ILAST).subspan(static_cast<std::size_t>(IFIRST), n);
    NEXP = interp_expand(y, std::span<std::int32_t, MAXEXP + 2>(v.YEXP), IXEXP);
    double width = FHIGH - FLOW;
    for (std::int32_t k = 1; k <= NEXP; ++k) {
        v.FEXP[static_cast<std::size_t>(k)] =
            NEXP > 1 ? FLOW + static_cast<double>(k - 1) * width / static_cast<double>(NEXP - 1)
                     : FLOW;
    }
}

} // namespace korax

// Rules of rasterisation shared by the window's drawing files (not for use
// outside window/): how far out a coordinate may lie before it is clipped in
// floating point, and how a mapped coordinate rounds to a pixel.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>

namespace korax::raster {

// Pixel coordinates further than this outside the window are never rasterised
// directly: such a line is first clipped in floating point, so that a wild value
// costs no more than a line across the window.
inline constexpr double near_margin = 8192.0;
// Mapped coordinates are held within this bound so that their differences
// stay finite.
inline constexpr double huge_bound = 1e300;
// Before clipping, a far end is pulled along its line to within this distance,
// so that the clipped points keep sub-pixel precision.
inline constexpr double far_bound = 1e9;

// The rounding rule of the plot coordinate mapping: nearest pixel, halves
// going to the larger coordinate. Callers hold v within +-1e9.
inline int round_pixel(double v) {
    assert(std::fabs(v) <= 1e9 && "round_pixel takes coordinates near the window");
    const double h = v + 0.5;
    int r = static_cast<int>(h); // toward zero; one less below zero gives the floor
    if (static_cast<double>(r) > h) --r;
    return r;
}

inline double hold_finite(double v) {
    return std::clamp(v, -huge_bound, huge_bound);
}

} // namespace korax::raster

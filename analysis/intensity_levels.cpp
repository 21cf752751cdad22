// Intensity limits and levels shared by the viewer and the batch commands.
#include "analysis/intensity_levels.h"

#include <cmath>

namespace korax {

EntryLimits entry_limits(std::int32_t iymin, std::int32_t iymax) {
    EntryLimits e;
    const double r = static_cast<double>(iymax) - static_cast<double>(iymin);
    if (r == 0) {
        // A flat spectrum (reachable through the zero-dynamic-range menu) gets a
        // range of one unit either side so that the plot has a height.
        e.YLOW = iymin - 1.0;
        e.YHIGH = iymax + 1.0;
    } else {
        e.YLOW = iymin - 0.05 * r;
        e.YHIGH = iymax + 0.05 * r;
    }
    e.YREF = e.YLOW + 0.25 * (e.YHIGH - e.YLOW);
    return e;
}

std::int16_t to_level(double value) {
    // Levels are 16-bit; a display range beyond that range pins them at its ends.
    const double t = std::trunc(value);
    if (!(t > -32768.0)) return -32768;
    if (t > 32767.0) return 32767;
    return static_cast<std::int16_t>(t);
}

} // namespace korax

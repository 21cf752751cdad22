// Intensity limits and levels shared by the viewer and the batch commands: the
// display limits the viewer starts from, and the 16-bit levels of PEAKFINDER.
#pragma once

#include <cstdint>

namespace korax {

// The intensity limits at entry into the viewer: the data range with a 5 %
// margin each side (a flat spectrum gets one unit each side), and the reference
// level a quarter of the way up.
struct EntryLimits {
    double YLOW = 0, YHIGH = 0, YREF = 0;
};
EntryLimits entry_limits(std::int32_t iymin, std::int32_t iymax);

// Truncation toward zero to a 16-bit level, held at the ends of that range.
std::int16_t to_level(double value);

} // namespace korax

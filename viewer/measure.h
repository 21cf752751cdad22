// Line measurement: the memory of the last two measured frequencies, kept for the
// whole run, and the pieces of the O key that work without a window.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace korax {

struct MeasurementMemory {
    double FLAST = 0, FPREV = 0; // most recent and previous measured frequency
    double ELAST = 0, EPREV = 0; // their errors
};
MeasurementMemory& measurement_memory();

// The last complete measurement of the O key, for copying it elsewhere.
struct LastMeasurement {
    bool valid = false;
    double FPEAK = 0, FPERR = 0, YPEAK = 0; // YPEAK above the baseline level
    std::optional<double> FWHH;             // none when a half-height crossing was missing
};
LastMeasurement& last_measurement();

// From point `start` of y(1..count), climbs to the top of a line that points up
// (y(start) > ymean) or down to the bottom of one that points down; never
// leaves 1..count.
std::int32_t climb_to_extremum(std::span<const std::int32_t> y, std::int32_t count,
                               std::int32_t start, double ymean);

// The 0 key's answer: the new NFIT (negative for PEAKFINDER), or nullopt to ask again.
std::optional<std::int16_t> accept_fitting_width(std::string_view line);

} // namespace korax

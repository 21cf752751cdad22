// Line measurement: the memory of the last two measured frequencies, kept for the
// whole run, and the pieces of the O key that work without a window.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

struct MeasurementMemory {
    double FLAST = 0, FPREV = 0; // most recent and previous measured frequency
    double ELAST = 0, EPREV = 0; // their errors, as the = key shows them
    // What T writes for the two: the error made honest (an O on interpolated
    // points counts each point IXEXP times, so its error is too small by
    // sqrt(IXEXP)), and why the measurement must not be assigned at all
    // (empty when it may).
    double honest_last = 0, honest_prev = 0;
    std::string doubt_last, doubt_prev;
    // Every measurement counts, also one equal to the one before it.
    std::uint64_t count = 0;
};
MeasurementMemory& measurement_memory();
// Puts a measurement into the memory, the one before it moving to FPREV.
void remember_measurement(double frequency, double error, double honest_error,
                          std::string doubt = {});

// One line of a profile fit.
struct MeasuredLine {
    double freq = 0, error = 0, height = 0; // height above the fitted baseline
    std::string flags;                      // the fit's doubts about it; empty: none
};

// The last complete measurement of the O or the X key, for copying it
// elsewhere and for T.
struct LastMeasurement {
    bool valid = false;
    double FPEAK = 0, FPERR = 0, YPEAK = 0; // YPEAK above the baseline level
    std::optional<double> FWHH;             // none when a half-height crossing was missing
    char key = 'O';                         // 'O' or 'X'
    std::int32_t IXEXP = 1;                 // O: the X-expansion it measured on
    bool centre_inside = true;       // O: the centre within the fitting interval of its last fit
    std::vector<MeasuredLine> lines; // X: every line of the fit, by frequency
};
LastMeasurement& last_measurement();

// Why T must not assign an O measurement; empty when it may.
std::string o_measurement_doubt(bool fwhh_found, bool centre_inside);

// From point `start` of y(1..count), climbs to the top of a line that points up
// (y(start) > ymean) or down to the bottom of one that points down; never
// leaves 1..count.
std::int32_t climb_to_extremum(std::span<const std::int32_t> y, std::int32_t count,
                               std::int32_t start, double ymean);

// The 0 key's answer: the new NFIT (negative for PEAKFINDER), or nullopt to ask again.
std::optional<std::int16_t> accept_fitting_width(std::string_view line);

} // namespace korax

// What the review of a series takes from one profile fit: the fitted line
// nearest the member's position, its error, height and width, and the doubts
// the fit leaves about it as flags. This is the one place where a fit's
// verdicts on its lines become the review's; a verdict the fit gives itself
// one day (saturation, say) is copied in here and nowhere else.
#pragma once

#include "analysis/profile_fit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace korax {

// The flags, as the review lists them: the fit's own (see LineFlags), and
// the review's.
inline constexpr const char* FLAG_SATURATED = "saturated"; // clipped points left out of the fit
inline constexpr const char* FLAG_LOW = "low";      // centre poorly determined, or a weak line
inline constexpr const char* FLAG_EDGE = "edge";    // the fit's window is cut by the spectrum's end
inline constexpr const char* FLAG_BLEND = "blend?"; // a line too close beside it, or unresolved
inline constexpr const char* FLAG_SHAPE = "shape";  // the profile does not fit
inline constexpr const char* FLAG_TREND = "trend";  // off the trend of the series' other members

struct FitReading {
    bool fitted = false;
    std::string refusal; // why not, in the fit's words; empty when fitted
    double centre = 0, error = 0, height = 0;
    double lobe_width = 0; // of the fitted shape
    double noise = 0;      // of the surroundings, in intensity
    double reduced_chi_square = 0;
    std::size_t components = 0;
    std::vector<std::string> flags;
};

// The line of `outcome` nearest to `position`, from a fit of the points
// 1..npts, with the flags the fit gave it (trend is the review's own; the fit
// knows the ends of the spectrum itself).
FitReading read_fit(const FitOutcome& outcome, double position, std::int32_t npts);

// Adds `flag` unless it is there already.
void add_flag(FitReading& reading, const std::string& flag);
// The flags joined by blanks, "-" when there are none.
std::string flags_text(const FitReading& reading);

} // namespace korax

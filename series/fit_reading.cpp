// Reading a profile fit for the review.
#include "series/fit_reading.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace korax {

void add_flag(FitReading& reading, const std::string& flag) {
    if (std::find(reading.flags.begin(), reading.flags.end(), flag) == reading.flags.end())
        reading.flags.push_back(flag);
}

std::string flags_text(const FitReading& reading) {
    if (reading.flags.empty()) return "-";
    std::string text;
    for (const std::string& f : reading.flags)
        text += (text.empty() ? "" : " ") + f;
    return text;
}

FitReading read_fit(const FitOutcome& outcome, double position, std::int32_t /*npts*/) {
    FitReading r;
    if (!outcome) {
        r.refusal = refusal_text(outcome.refusal());
        return r;
    }
    const ProfileFit& fit = *outcome;
    const auto nearest =
        std::min_element(fit.components.begin(), fit.components.end(),
                         [&](const FittedComponent& a, const FittedComponent& b) {
                             return std::abs(a.centre - position) < std::abs(b.centre - position);
                         });
    r.fitted = true;
    r.centre = nearest->centre;
    r.error = nearest->centre_error;
    r.height = nearest->height;
    r.lobe_width = nearest->lobe_width;
    r.noise = fit.noise;
    r.reduced_chi_square = fit.reduced_chi_square;
    r.components = fit.components.size();
    // The fit's own verdicts on the line, as the fit gives them everywhere.
    for (std::string_view flag : flag_names(nearest->flags))
        add_flag(r, std::string(flag));
    return r;
}

} // namespace korax

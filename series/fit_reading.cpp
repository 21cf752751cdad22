// Reading a profile fit for the review.
#include "series/fit_reading.h"

#include <algorithm>
#include <cmath>

namespace korax {

namespace {

// How the chosen thresholds were set: on synthetic series with known centres
// (series/engine_test.cpp and the series benchmark), a wrong line was either
// off the trend or fell under one of these, and no correct line of a signal
// to noise of 10 or more did.
constexpr double LOW_ERROR_PER_WIDTH = 0.25;
constexpr double LOW_SIGNAL_TO_NOISE = 5;
constexpr double BLEND_WIDTHS = 1.5;
constexpr double SHAPE_CHI_SQUARE = 4;

} // namespace

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

FitReading read_fit(const FitOutcome& outcome, double position, std::int32_t npts) {
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
    r.lobe_width = fit.lobe_width;
    r.noise = fit.noise;
    r.reduced_chi_square = fit.reduced_chi_square;
    r.components = fit.components.size();
    if (!(r.error <= LOW_ERROR_PER_WIDTH * r.lobe_width) ||
        (r.noise > 0 && std::abs(r.height) < LOW_SIGNAL_TO_NOISE * r.noise))
        add_flag(r, FLAG_LOW);
    for (const FittedComponent& c : fit.components)
        if (&c != &*nearest && std::abs(c.centre - r.centre) < BLEND_WIDTHS * r.lobe_width)
            add_flag(r, FLAG_BLEND);
    if (fit.window.first <= 1 || fit.window.last >= npts) add_flag(r, FLAG_EDGE);
    if (!(fit.reduced_chi_square <= SHAPE_CHI_SQUARE)) add_flag(r, FLAG_SHAPE);
    return r;
}

} // namespace korax

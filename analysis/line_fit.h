// The fit of one line, shared by the O key, PEAKFINDER and the profile fit's
// first look at a line: PEAKF over the points around a centre, repeated with
// the window moved to where the last fit put the top, so that a start a few
// points off still ends on the line.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace korax {

struct LineFit {
    double FPEAK = 0, FPERR = 0, YPEAK = 0, CLIN = 0, CQUAD = 0;
    std::int16_t nc = 0;     // points of each fit: 2 * half + 1
    std::int64_t centre = 0; // the centre point of the last fit
};

enum class LineFitOutcome {
    Fitted,
    OutsideData, // a window reached beyond points 1..count; nothing more was fitted
    NoCurvature, // a fit found no vertex (a straight stretch) or none that is finite
};

// Fits the 2 * half + 1 points of x/y (1-based, `count` points) around
// `centre`, `tries` times; after every fit but the last, `recentre` gives the
// centre of the next window from the fitted frequency. XFIT and YFIT
// (fit_arrays()) keep the points of the last fit as PEAKF leaves them. `half`
// is at most (MAXFIT - 1) / 2. Intensities are the store's integers or, for
// smoothed data, doubles.
template <class T>
[[nodiscard]] LineFitOutcome
fit_and_recentre(std::span<const double> x, std::span<const T> y, std::int32_t count,
                 std::int64_t centre, std::int32_t half, int tries,
                 const std::function<std::int64_t(double)>& recentre, LineFit& fit);

} // namespace korax

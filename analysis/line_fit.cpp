// The fit-and-re-centre loop around PEAKF.
#include "analysis/line_fit.h"

#include "analysis/peakf.h"

#include <cassert>
#include <cmath>

namespace korax {

template <class T>
LineFitOutcome fit_and_recentre(std::span<const double> x, std::span<const T> y, std::int32_t count,
                                std::int64_t centre, std::int32_t half, int tries,
                                const std::function<std::int64_t(double)>& recentre, LineFit& fit) {
    assert(half >= 1 && 2 * half + 1 <= MAXFIT && tries >= 1);
    auto& arrays = fit_arrays();
    fit.nc = static_cast<std::int16_t>(2 * half + 1);
    for (int attempt = 1; attempt <= tries; ++attempt) {
        if (centre - half < 1 || centre + half > count) return LineFitOutcome::OutsideData;
        fit.centre = centre;
        for (std::int64_t k = 1; k <= fit.nc; ++k) {
            arrays.XFIT[std::size_t(k)] = x[std::size_t(centre - half - 1 + k)];
            arrays.YFIT[std::size_t(k)] = double(y[std::size_t(centre - half - 1 + k)]);
        }
        std::int16_t nc = fit.nc;
        if (!PEAKF(nc, fit.FPEAK, fit.FPERR, fit.YPEAK, fit.CLIN, fit.CQUAD) ||
            !std::isfinite(fit.FPEAK))
            return LineFitOutcome::NoCurvature;
        if (attempt < tries) centre = recentre(fit.FPEAK);
    }
    return LineFitOutcome::Fitted;
}

template LineFitOutcome fit_and_recentre(std::span<const double>, std::span<const std::int32_t>,
                                         std::int32_t, std::int64_t, std::int32_t, int,
                                         const std::function<std::int64_t(double)>&, LineFit&);
template LineFitOutcome fit_and_recentre(std::span<const double>, std::span<const double>,
                                         std::int32_t, std::int64_t, std::int32_t, int,
                                         const std::function<std::int64_t(double)>&, LineFit&);

} // namespace korax

// The line fit shared by the O key and PEAKFINDER, and the work arrays both fill.
// The parabola is forced through the centre point; its other two coefficients come
// from a straight-line regression of the chord slopes seen from that point.
#include "analysis/peakf.h"

#include <cassert>
#include <cmath>

namespace korax {

// One set per thread: the batch commands fit lines of several spectra at once.
FitArrays& fit_arrays() {
    thread_local FitArrays arrays;
    return arrays;
}

bool PEAKF(std::int16_t& nc, double& FPEAK, double& FPERR, double& YPEAK, double& CLIN,
           double& CQUAD) {
    assert(nc >= 3 && nc <= MAXFIT && "PEAKF needs 3 to MAXFIT points");
    auto& XFIT = fit_arrays().XFIT;
    auto& YFIT = fit_arrays().YFIT;
    const int k0 = nc / 2 + 1;
    const double xc = XFIT[k0];
    const double yc = YFIT[k0];

    // The i * nudge keeps d away from zero even when two frequencies coincide.
    // 1e-7 is a few millionths of an MHz axis's step; on an axis finer than
    // 1e-3 (wavenumbers: steps of 1e-5 to 1e-7) it would be a whole step or
    // more and move the vertex by points, so there it is a millionth of the
    // spacing.
    const double spacing = std::abs(XFIT[nc] - XFIT[1]) / (nc - 1);
    const double nudge = spacing > 0 && spacing < 1e-3 ? 1e-6 * spacing : 1e-7;
    double sx = 0, sy = 0, sxy = 0, syy = 0, sxx = 0;
    for (int i = 1; i <= nc; ++i) {
        if (i == k0) continue;
        const double d = XFIT[i] - xc + i * nudge;
        const double s = (YFIT[i] - yc) / d;
        XFIT[i] = d;
        YFIT[i] = s;
        sx += d;
        sy += s;
        sxy += d * s;
        syy += s * s;
        sxx += d * d;
    }
    const double e = nc - 1;
    const double f = sxx - sx * sx / e;
    const double quad = (sxy - sx * sy / e) / f;
    // A straight line (or points that give no usable slope at all) has no vertex.
    if (quad == 0 || !std::isfinite(quad)) {
        CQUAD = quad == 0 ? 0.0 : quad;
        FPEAK = 0;
        FPERR = 0;
        return false;
    }
    CQUAD = quad;
    CLIN = (sy - sx * CQUAD) / e;
    FPEAK = xc - 0.5 * CLIN / CQUAD;
    const double t = FPEAK - xc;
    YPEAK = t * (CLIN + CQUAD * t) + yc;

    // With three points nothing is left over to estimate the scatter.
    if (e - 2 <= 0) {
        FPERR = 0;
        return true;
    }
    const double sigma2 = ((syy - sy * sy / e) / f - CQUAD * CQUAD) / (e - 2);
    const double var_lin = sxx * sigma2 / e;
    if (CLIN == 0) {
        // The relative form below divides by CLIN; its limit is the plain one.
        FPERR = var_lin > 0 ? std::sqrt(var_lin) * std::abs(0.5 / CQUAD) : 0.0;
        return true;
    }
    const double q = var_lin / (CLIN * CLIN) + sigma2 / (CQUAD * CQUAD);
    if (q <= 0 || !std::isfinite(q))
        FPERR = 0;
    else
        FPERR = std::sqrt(q) * std::abs(0.5 * CLIN / CQUAD);
    return true;
}

} // namespace korax

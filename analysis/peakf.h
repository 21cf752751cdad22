// The line fit shared by the O key and PEAKFINDER: a parabola through the centre
// point, fitted by regression of chord slopes.
#pragma once

#include <array>
#include <cstdint>

namespace korax {

// 501 points: NP = 500 gathers 501.
inline constexpr int MAXFIT = 501;
struct FitArrays {
    std::array<double, MAXFIT + 1> XFIT{}; // 1-based
    std::array<double, MAXFIT + 1> YFIT{};
};
FitArrays& fit_arrays();

// Fits XFIT/YFIT(1..nc) with the centre at nc div 2 + 1; rewrites both arrays
// (all points but the centre). When CQUAD comes out 0 (or not finite: points
// that give no slope at all), FPEAK = FPERR = 0 and YPEAK, CLIN are left
// unchanged; the return value is false then and the caller reports a failed fit.
bool PEAKF(std::int16_t& nc, double& FPEAK, double& FPERR, double& YPEAK, double& CLIN,
           double& CQUAD);

} // namespace korax

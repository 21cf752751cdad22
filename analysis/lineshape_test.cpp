#include "analysis/lineshape.h"

#include <cerf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace korax {
namespace {

const LineProfile PROFILES[] = {LineProfile::Gauss, LineProfile::Lorentz, LineProfile::Voigt};

LineWidths widths_of(LineProfile profile, double gauss, double lorentz) {
    return {uses_gauss_width(profile) ? gauss : 0, uses_lorentz_width(profile) ? lorentz : 0};
}

// The width scale s by which order n + 1 is s times the slope of order n.
double scale_of(LineProfile profile, const LineWidths& w) {
    const double g = w.gauss / (2 * std::sqrt(std::numbers::ln2)), gamma = w.lorentz / 2;
    return profile == LineProfile::Gauss ? g : profile == LineProfile::Lorentz ? gamma : g + gamma;
}

TEST(LineShape, EveryPartialDerivativeMatchesFiniteDifferences) {
    const double offsets[] = {-7.3, -2.1, -0.6, 0.0, 0.35, 1.4, 4.9};
    const LineWidths width_sets[] = {{3.0, 2.0}, {1.2, 5.5}, {8.0, 0.4}};
    for (LineProfile profile : PROFILES)
        for (int n = 0; n <= 2; ++n)
            for (const LineWidths& ws : width_sets)
                for (double u : offsets) {
                    const LineShape shape{profile, n};
                    const LineWidths w = widths_of(profile, ws.gauss, ws.lorentz);
                    SCOPED_TRACE(shape_name(shape) + " u=" + std::to_string(u) + " widths=" +
                                 std::to_string(w.gauss) + "," + std::to_string(w.lorentz));
                    const ShapePoint p = shape_point(shape, u, w);
                    const double h = 1e-5;
                    auto at = [&](double du, double dg, double dl) {
                        return shape_value(shape, u + du, {w.gauss + dg, w.lorentz + dl});
                    };
                    const double tol = 1e-6 * (1 + std::abs(p.value));
                    EXPECT_NEAR(-(at(h, 0, 0) - at(-h, 0, 0)) / (2 * h), p.d_centre, tol);
                    if (uses_gauss_width(profile)) {
                        EXPECT_NEAR((at(0, h, 0) - at(0, -h, 0)) / (2 * h), p.d_gauss, tol);
                    }
                    if (uses_lorentz_width(profile)) {
                        EXPECT_NEAR((at(0, 0, h) - at(0, 0, -h)) / (2 * h), p.d_lorentz, tol);
                    }
                    // The next order is the slope of this one in units of the width scale.
                    if (n < 2) {
                        const double slope = (at(h, 0, 0) - at(-h, 0, 0)) / (2 * h);
                        EXPECT_NEAR(scale_of(profile, w) * slope,
                                    shape_value({profile, n + 1}, u, w), tol);
                    }
                }
}

TEST(LineShape, VoigtAgreesWithTheLibraryProfileAndItsLimits) {
    // libcerf's own Voigt profile is area-normalised; ours has its peak at 1.
    const double sigma = 1.3, gamma = 0.8;
    const LineWidths w{2 * std::sqrt(2 * std::numbers::ln2) * sigma, 2 * gamma};
    for (double u : {-6.0, -1.7, 0.0, 0.9, 3.3})
        EXPECT_NEAR(voigt(u, sigma, gamma) / voigt(0, sigma, gamma),
                    shape_value({LineProfile::Voigt, 0}, u, w), 1e-12);
    for (int n = 0; n <= 2; ++n)
        for (double u : {-3.1, -0.4, 0.0, 1.2, 5.0}) {
            EXPECT_NEAR(shape_value({LineProfile::Gauss, n}, u, {2.5, 0}),
                        shape_value({LineProfile::Voigt, n}, u, {2.5, 0}), 1e-12);
            // A Gaussian part of 1e-7 of the Lorentzian leaves a Lorentzian.
            EXPECT_NEAR(shape_value({LineProfile::Lorentz, n}, u, {0, 2.5}),
                        shape_value({LineProfile::Voigt, n}, u, {2.5e-7, 2.5}), 1e-5);
        }
}

TEST(LineShape, FaddeevaDerivativesFollowTheFunction) {
    // Both sides of the radius where the series takes over, on and off the axis.
    const std::complex<double> zs[] = {{0.3, 0.2},  {-2.5, 1.0}, {4.0, 0.05},  {0.0, 3.0},
                                       {11.9, 0.1}, {12.1, 0.1}, {-30.0, 2.0}, {300.0, 4000.0}};
    for (auto z : zs) {
        std::complex<double> w[4], plus[4], minus[4];
        const double h = 1e-5 * std::max(1.0, std::abs(z));
        faddeeva_derivatives(z, w);
        faddeeva_derivatives(z + h, plus);
        faddeeva_derivatives(z - h, minus);
        for (int k = 0; k < 3; ++k) {
            const auto fd = (plus[k] - minus[k]) / (2 * h);
            EXPECT_NEAR(0, std::abs(fd - w[k + 1]), 1e-6 * std::abs(w[k + 1]))
                << "z=" << z << " k=" << k;
        }
    }
}

TEST(LineShape, FaddeevaDerivativesMatchHighPrecisionValuesBeyondTheRadius) {
    // w and its derivatives by the recurrence from w = exp(-z^2) erfc(-iz) at
    // 80 digits, at |z| just above the radius where the series takes over (on
    // the axes, off them, near the real axis where Re w is the smaller part)
    // and far above it.
    struct Case {
        std::complex<double> z;
        std::complex<double> w[4];
    };
    const Case cases[] = {
        {{12.0, 0.0},
         {{2.8946403116483003e-63, 4.7180778707018842e-2},
          {-6.9471367479559207e-62, -3.9595218729396451e-3},
          {1.6615235388861244e-60, 6.6696753651379707e-4},
          {-3.9598679463348748e-59, -1.6913338457254927e-4}}},
        {{12.05, 0.3},
         {{1.1771672766435974e-3, 4.6954015570978834e-2},
          {-1.9732202452339925e-4, -3.9189085310635625e-3},
          {4.9781119088589983e-5, 6.560576713882334e-4},
          {-1.6802269108481628e-5, -1.6522442765532965e-4}}},
        {{0.0, 12.5},
         {{4.4992099001027921e-2, 0},
          {0, 3.5766920698145528e-3},
          {-5.6689625669202235e-4, 0},
          {0, -1.3436186195765227e-4}}},
        {{-8.5, 9.0},
         {{3.322806330617471e-2, -3.1178125986041754e-2},
          {3.6708084562185012e-3, 2.4588582165796467e-4},
          {3.7356193320846443e-4, 4.6175872833588531e-4},
          {-2.1023850284173968e-5, 1.4224029732583186e-4}}},
        {{11.0, 5.0},
         {{1.9476142316953304e-2, 4.2552395732491194e-2},
          {-2.9511736480607517e-3, -2.5349621888267435e-3},
          {6.2391373516249336e-4, 1.7611316981348616e-4},
          {-1.6027588319698552e-4, 2.6221667785345066e-5}}},
        {{-12.2, 0.001},
         {{3.8294360753418761e-6, -4.6401991617183339e-2},
          {6.3425700397509283e-7, -3.8294360226329752e-3},
          {1.5812670104256138e-7, -6.3425698639192032e-4},
          {5.2749516754285356e-8, -1.5812669368435617e-4}}},
        {{30.0, 0.001},
         {{6.2792502343067086e-7, 1.8816784847694873e-2},
          {-4.1931710450505752e-8, -6.2792502202982548e-4},
          {4.2025361093524498e-9, 4.193171026320434e-5},
          {-5.6190423271529735e-10, -4.2025360780307327e-6}}},
        {{-150.0, 40.0},
         {{9.3646737490450908e-4, -3.5116069325495133e-3},
          {1.1657867391655474e-5, -2.0302661702153944e-5},
          {2.1253151530854879e-7, -2.140368795945603e-7},
          {5.0346583779161756e-9, -2.938294436214422e-9}}},
        {{1000.0, 1000.0},
         {{2.8209486229752319e-4, 2.8209472125012731e-4},
          {-2.8209479177361368e-7, 2.115710938299458e-13},
          {2.8209436863089709e-10, -2.8209521491527241e-10},
          {2.1157109382874249e-18, 8.4628437531608069e-13}}},
        {{4000.0, 0.0},
         {{0, 1.4104740029467061e-4},
          {0, -3.5261852277533626e-8},
          {0, 1.76309277916665e-11},
          {0, -1.322319749664982e-14}}},
        {{0.5, 20000.0},
         {{2.8209479124495041e-5, 7.052369763492836e-10},
          {-7.0523697326387186e-14, 1.4104739509354748e-9},
          {-1.4104739430015589e-13, -1.0578554537249843e-17},
          {2.1157108920229102e-21, -2.1157108986345067e-17}}},
    };
    for (const Case& c : cases) {
        std::complex<double> w[4];
        faddeeva_derivatives(c.z, w);
        for (int k = 0; k < 4; ++k)
            EXPECT_LE(std::abs(w[k] - c.w[k]), 4e-15 * std::abs(c.w[k]))
                << "z=" << c.z << " k=" << k;
    }
}

TEST(LineShape, LobeWidthsAndHeightsOfKnownShapes) {
    struct Case {
        LineShape shape;
        LineWidths widths;
        double lobe, offset, height;
    };
    // Worked out by hand: the half-height points of (2 - 6v^2)/(1 + v^2)^3 and
    // of (1 - 2v^2) exp(-v^2), the inflections of the Gaussian (at sigma) and
    // of the Lorentzian (at gamma / sqrt 3).
    const Case cases[] = {
        {{LineProfile::Gauss, 0}, {2, 0}, 2, 0, 1},
        {{LineProfile::Lorentz, 0}, {0, 3}, 3, 0, 1},
        {{LineProfile::Lorentz, 2}, {0, 1}, 0.327334025783, 0, -2},
        {{LineProfile::Gauss, 2}, {1, 0}, 0.531622520319, 0, -2},
        {{LineProfile::Gauss, 1},
         {1, 0},
         0.849321800288,
         -0.849321800288 / 2,
         std::sqrt(2.0) * std::exp(-0.5)},
        {{LineProfile::Lorentz, 1},
         {0, 2},
         2 * 0.577350269190,
         -0.577350269190,
         // 2v / (1 + v^2)^2 at v = 1/sqrt 3
         2 / std::sqrt(3.0) / (16.0 / 9)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(shape_name(c.shape));
        EXPECT_NEAR(c.lobe, lobe_width(c.shape, c.widths), 1e-9);
        EXPECT_NEAR(c.offset, height_offset(c.shape, c.widths), 1e-9);
        EXPECT_NEAR(c.height, shape_value(c.shape, height_offset(c.shape, c.widths), c.widths),
                    1e-9);
        const LineWidths back = widths_for_lobe(c.shape, 7.5);
        EXPECT_NEAR(7.5, lobe_width(c.shape, back), 1e-9);
    }
    for (LineProfile profile : PROFILES)
        for (int n = 0; n <= 2; ++n) {
            const LineShape shape{profile, n};
            EXPECT_EQ(shape, parse_shape(shape_name(shape)));
            // The lobe of a width found once for the unit width, scaled, and
            // the Voigt's found each time agree both ways.
            for (double lobe : {0.004, 1.0, 37.5})
                EXPECT_NEAR(1, lobe_width(shape, widths_for_lobe(shape, lobe)) / lobe, 1e-12)
                    << shape_name(shape) << " " << lobe;
        }
    // A Voigt's lobe is kept for widths asked again: every one of widths that
    // share one of their two, asked more times and in more orders than are
    // kept, still reaches half the height at its half lobe.
    for (int n : {0, 2}) {
        const LineShape voigt{LineProfile::Voigt, n};
        std::vector<LineWidths> asked;
        for (double g : {0.0, 0.5, 1.0, 3.0})
            for (double l : {0.0, 0.5, 1.0, 3.0, 8.0})
                if (g + l > 0) asked.push_back({g, l});
        for (int pass = 0; pass < 3; ++pass) {
            for (const LineWidths& w : asked) {
                const double half = lobe_width(voigt, w) / 2;
                EXPECT_NEAR(shape_value(voigt, 0, w) / 2, shape_value(voigt, half, w),
                            1e-9 * std::abs(shape_value(voigt, 0, w)))
                    << "voigt" << n << " gauss " << w.gauss << " lorentz " << w.lorentz;
            }
            std::reverse(asked.begin(), asked.end());
            std::rotate(asked.begin(), asked.begin() + 3, asked.end());
        }
    }
    EXPECT_FALSE(parse_shape("lorentz3"));
    EXPECT_FALSE(parse_shape("gaus2"));
    EXPECT_FALSE(parse_shape(""));
}

} // namespace
} // namespace korax

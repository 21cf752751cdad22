#include "analysis/lineshape.h"

#include <cerf.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

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
        }
    EXPECT_FALSE(parse_shape("lorentz3"));
    EXPECT_FALSE(parse_shape("gaus2"));
    EXPECT_FALSE(parse_shape(""));
}

} // namespace
} // namespace korax

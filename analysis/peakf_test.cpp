// The line fit against worked examples and an ordinary least-squares parabola.
#include "analysis/peakf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace korax {
namespace {

struct Fit {
    bool ok = false;
    double fpeak = -1, fperr = -1, ypeak = -1, clin = -1, cquad = -1;
};

template <class F> Fit fit_points(int first_x, int count, F y) {
    auto& a = fit_arrays();
    for (int k = 1; k <= count; ++k) {
        a.XFIT[std::size_t(k)] = first_x + k - 1;
        a.YFIT[std::size_t(k)] = y(double(first_x + k - 1));
    }
    Fit f;
    std::int16_t nc = static_cast<std::int16_t>(count);
    f.ok = PEAKF(nc, f.fpeak, f.fperr, f.ypeak, f.clin, f.cquad);
    return f;
}

TEST(Peakf, WorkedExamples) {
    // The 1e-7 offsets of the chord abscissae shift the vertex by a few 1e-7.
    const Fit a = fit_points(8, 5, [](double x) { return 1000 - 10 * (x - 10) * (x - 10); });
    ASSERT_TRUE(a.ok);
    EXPECT_NEAR(10.0000003, a.fpeak, 1e-7);
    EXPECT_NEAR(1000, a.ypeak, 1e-6);
    EXPECT_NEAR(-10, a.cquad, 1e-4);
    EXPECT_NEAR(0, a.fperr, 1e-9);

    const Fit b = fit_points(8, 5, [](double x) { return 100 - (x - 10.3) * (x - 10.3); });
    ASSERT_TRUE(b.ok);
    EXPECT_NEAR(10.3000003, b.fpeak, 1e-7);
    EXPECT_NEAR(100, b.ypeak, 1e-5);
    EXPECT_GT(b.fperr, 3e-9);
    EXPECT_LT(b.fperr, 3e-7);
}

// Ordinary least squares y = c0 + c1 x + c2 x^2 through the normal equations,
// solved by Cramer's rule; the vertex is -c1 / (2 c2).
double least_squares_vertex(const std::vector<double>& x, const std::vector<double>& y) {
    double s[5] = {}, t[3] = {};
    for (std::size_t i = 0; i < x.size(); ++i) {
        double p = 1;
        for (int k = 0; k < 5; ++k, p *= x[i])
            s[k] += p;
        t[0] += y[i];
        t[1] += y[i] * x[i];
        t[2] += y[i] * x[i] * x[i];
    }
    auto det = [](double a, double b, double c, double d, double e, double f, double g, double h,
                  double i) {
        return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    };
    const double d = det(s[0], s[1], s[2], s[1], s[2], s[3], s[2], s[3], s[4]);
    const double c1 = det(s[0], t[0], s[2], s[1], t[1], s[3], s[2], t[2], s[4]) / d;
    const double c2 = det(s[0], s[1], t[0], s[1], s[2], t[1], s[2], s[3], t[2]) / d;
    return -c1 / (2 * c2);
}

TEST(Peakf, NoisyLineAgreesWithAnOrdinaryParabola) {
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0, 2);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<double> x, y;
        for (int k = 0; k < 11; ++k) {
            x.push_back(100 + k * 0.5);
            y.push_back(
                std::trunc(5000 - 400 * std::pow(100 + k * 0.5 - 102.6, 2) + noise(random)));
        }
        auto& a = fit_arrays();
        for (int k = 1; k <= 11; ++k) {
            a.XFIT[std::size_t(k)] = x[std::size_t(k - 1)];
            a.YFIT[std::size_t(k)] = y[std::size_t(k - 1)];
        }
        Fit f;
        std::int16_t nc = 11;
        f.ok = PEAKF(nc, f.fpeak, f.fperr, f.ypeak, f.clin, f.cquad);
        ASSERT_TRUE(f.ok);
        const double expected = least_squares_vertex(x, y);
        // Both fits see the same noise; they differ only in forcing the centre point.
        EXPECT_NEAR(expected, f.fpeak, 0.01) << trial;
        EXPECT_NEAR(102.6, f.fpeak, 0.02) << trial;
        EXPECT_GT(f.fperr, 0) << trial;
        EXPECT_LT(f.fperr, 0.02) << trial;
        EXPECT_NEAR(5000, f.ypeak, 10) << trial;
    }
}

TEST(Peakf, FlatDataHasNoCurvatureAndKeepsTheOldValues) {
    Fit f;
    f.ypeak = 123;
    f.clin = 456;
    auto& a = fit_arrays();
    for (int k = 1; k <= 7; ++k) {
        a.XFIT[std::size_t(k)] = k;
        a.YFIT[std::size_t(k)] = 50;
    }
    std::int16_t nc = 7;
    EXPECT_FALSE(PEAKF(nc, f.fpeak, f.fperr, f.ypeak, f.clin, f.cquad));
    EXPECT_EQ(0, f.cquad);
    EXPECT_EQ(0, f.fpeak);
    EXPECT_EQ(0, f.fperr);
    EXPECT_EQ(123, f.ypeak);
    EXPECT_EQ(456, f.clin);
}

// The same points on a wavenumber axis near 2000 cm-1 of every step a
// spectrometer records: the vertex falls on the same place in points as on an
// axis of step 1, and the error scales with the step. A nudge of the chord
// abscissae that is fixed in frequency would be a whole step at 1e-7.
TEST(Peakf, FineAxesFitAsCoarseOnes) {
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0, 3);
    std::vector<double> y;
    for (int k = 0; k < 9; ++k)
        y.push_back(std::trunc(5000 - 300 * (k - 4.37) * (k - 4.37) + noise(random)));
    auto fit_on = [&](double origin, double step) {
        auto& a = fit_arrays();
        for (int k = 1; k <= 9; ++k) {
            a.XFIT[std::size_t(k)] = origin + (k - 1) * step;
            a.YFIT[std::size_t(k)] = y[std::size_t(k - 1)];
        }
        Fit f;
        std::int16_t nc = 9;
        f.ok = PEAKF(nc, f.fpeak, f.fperr, f.ypeak, f.clin, f.cquad);
        return f;
    };
    const Fit coarse = fit_on(0, 1);
    ASSERT_TRUE(coarse.ok);
    ASSERT_NEAR(4.37, coarse.fpeak, 0.05);
    for (double step : {1e-4, 1e-5, 1e-6, 2e-7, 1e-7}) {
        const Fit fine = fit_on(2000, step);
        ASSERT_TRUE(fine.ok) << step;
        EXPECT_NEAR(coarse.fpeak, (fine.fpeak - 2000) / step, 1e-4) << step;
        EXPECT_NEAR(coarse.fperr, fine.fperr / step, 1e-3 * coarse.fperr) << step;
        EXPECT_NEAR(coarse.ypeak, fine.ypeak, 0.01) << step;
    }
}

TEST(Peakf, FitsAllFiveHundredAndOnePoints) {
    const Fit f = fit_points(1, 501, [](double x) { return 1e6 - (x - 250.5) * (x - 250.5); });
    ASSERT_TRUE(f.ok);
    EXPECT_NEAR(250.5, f.fpeak, 1e-4);
}

} // namespace
} // namespace korax

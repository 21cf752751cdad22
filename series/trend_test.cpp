// The trend's polynomial against polynomials known exactly, and its degree
// against the number of members measured.
#include "series/trend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace korax {
namespace {

TEST(Trend, RecoversPolynomialsAndLimitsTheDegreeToWhatTheOrdersCarry) {
    const auto quadratic = [](double k) {
        return 0.25 - 0.03 * (k - 40) + 0.002 * (k - 40) * (k - 40);
    };
    struct Case {
        std::vector<double> orders;
        int degree;
    } cases[] = {
        {{}, -1},
        {{7}, 0},
        {{7, 7, 7}, 0}, // one order however often measured: a constant
        {{3, 9}, 1},    // a straight line through two
        {{3, 3, 9}, 1},
        {{0, 1, 2}, 2},                      // three adjacent members give the parabola exactly
        {{1000, 1010, 1033, 1040, 1071}, 2}, // far from 0: centred before the solve
    };
    for (const Case& t : cases) {
        std::vector<double> o_c;
        for (double k : t.orders)
            o_c.push_back(quadratic(k));
        const Trend trend = fit_trend(t.orders, o_c);
        EXPECT_EQ(t.degree, trend.degree);
        if (t.degree < 0) {
            EXPECT_EQ(0.0, trend.at(12));
            continue;
        }
        for (double k : t.orders)
            EXPECT_NEAR(quadratic(k), trend.at(k), 1e-9) << "at " << k;
        if (t.degree == 2) {
            EXPECT_NEAR(quadratic(t.orders.back() + 25), trend.at(t.orders.back() + 25), 1e-8);
        }
    }
}

TEST(Trend, LeastSquaresThroughScatterAndNoMoreThanAsked) {
    // A straight line with alternating deviations: the fit is the line.
    std::vector<double> orders, o_c;
    for (int k = 0; k < 20; ++k) {
        orders.push_back(k);
        o_c.push_back(1.5 - 0.1 * k + (k % 2 ? 0.01 : -0.01));
    }
    const Trend line = fit_trend(orders, o_c, 1);
    EXPECT_EQ(1, line.degree);
    EXPECT_NEAR(1.5 - 0.1 * 30, line.at(30), 0.01);
    // Points that are not numbers are left out.
    orders.push_back(50);
    o_c.push_back(std::numeric_limits<double>::quiet_NaN());
    orders.push_back(std::numeric_limits<double>::infinity());
    o_c.push_back(3);
    EXPECT_NEAR(line.at(30), fit_trend(orders, o_c, 1).at(30), 1e-12);
    EXPECT_EQ(0, fit_trend(orders, o_c, 0).degree);
}

} // namespace
} // namespace korax

// The half-height crossings and the fit loop that the O key and PEAKFINDER share.
#include "analysis/half_height.h"
#include "analysis/line_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace korax {
namespace {

TEST(HalfHeight, CrossingsInterpolateBetweenTheNeighboursAroundTheLevel) {
    const std::vector<double> x = {0, 10, 11, 12, 13, 14};
    const std::vector<std::int32_t> y = {0, 0, 40, 100, 60, 20};
    HalfHeightFinder all(x, y, 1, 5);
    EXPECT_DOUBLE_EQ(11 + 10.0 / 60, *all.left(3, 50));
    EXPECT_DOUBLE_EQ(13 + 10.0 / 40, *all.right(3, 50));
    EXPECT_DOUBLE_EQ(13 + 10.0 / 40 - (11 + 10.0 / 60), *all.around(3, 50).width());
    // A side that never comes down to the level is not found, and then there
    // is no width.
    EXPECT_FALSE(all.right(3, 10).has_value());
    EXPECT_FALSE(all.around(3, 10).width().has_value());
    EXPECT_FALSE(HalfHeightFinder(x, y, 2, 5).left(3, 30).has_value());
    EXPECT_DOUBLE_EQ(11 + 1.0 / 3, *all.left(3, 60));
    // A point exactly on the level is its own crossing on both sides.
    EXPECT_DOUBLE_EQ(13.0, *all.left(4, 60));
    EXPECT_DOUBLE_EQ(13.0, *all.right(4, 60));
}

TEST(HalfHeight, FarCrossingsAreFoundAsAPlainScanFindsThem) {
    // A line on a long shelf: the level lies below the shelf, so both searches
    // run thousands of points, far past the short scan, before the data come
    // down to it near the ends; a dip on each side lies just above the level.
    const std::int32_t n = 20000;
    std::vector<double> x(n + 1);
    std::vector<std::int32_t> y(n + 1, 500);
    for (std::int32_t i = 1; i <= n; ++i)
        x[std::size_t(i)] = 1000.0 + 0.5 * i;
    y[10000] = 900;
    y[3000] = y[17000] = 101;
    for (std::int32_t i : {1, 2, 19999, 20000})
        y[std::size_t(i)] = -200;
    HalfHeightFinder finder(x, y, 1, n);
    const Crossings c = finder.around(10000, 100);
    // By hand: from 500 at point 3 down to -200 at point 2, the level 100 lies
    // 4/7 of the way; from 500 at 19998 to -200 at 19999 likewise.
    ASSERT_TRUE(c.left && c.right);
    EXPECT_DOUBLE_EQ(x[3] - 0.5 * 4 / 7, *c.left);
    EXPECT_DOUBLE_EQ(x[19998] + 0.5 * 4 / 7, *c.right);
    // A top below the level searches for points at or above it instead.
    y[10000] = -300;
    HalfHeightFinder below(x, y, 1, n);
    EXPECT_DOUBLE_EQ(x[9999] + 0.5 * 600 / 800, *below.left(10000, -100));
    // A level the data never come down to on a side of this length is not found.
    y[10000] = 900;
    EXPECT_FALSE(HalfHeightFinder(x, y, 3, 19998).left(10000, -250).has_value());
}

TEST(LineFit, RecentresOntoTheTopAndRefusesWhatItCannotFit) {
    // A parabola with its top at x = 20.3 over points x = i.
    std::vector<double> x(41);
    std::vector<std::int32_t> parabola(41), flat(41, 500);
    for (int i = 1; i <= 40; ++i) {
        x[std::size_t(i)] = i;
        parabola[std::size_t(i)] =
            static_cast<std::int32_t>(std::lround(100000 - 100 * (i - 20.3) * (i - 20.3)));
    }
    const auto nearest = [](double f) { return std::llround(f); };
    struct Case {
        const std::vector<std::int32_t>* y;
        std::int64_t start;
        LineFitOutcome outcome;
        std::int64_t last_centre;
    };
    const Case cases[] = {
        {&parabola, 16, LineFitOutcome::Fitted, 20}, // four points off: moved onto the top
        {&parabola, 3, LineFitOutcome::OutsideData, 0},
        {&flat, 20, LineFitOutcome::NoCurvature, 20},
    };
    for (const Case& c : cases) {
        LineFit fit;
        EXPECT_EQ(c.outcome,
                  fit_and_recentre<std::int32_t>(x, *c.y, 40, c.start, 3, 4, nearest, fit))
            << c.start;
        if (c.outcome == LineFitOutcome::OutsideData) continue;
        EXPECT_EQ(c.last_centre, fit.centre);
        EXPECT_EQ(7, fit.nc);
        if (c.outcome == LineFitOutcome::Fitted) {
            EXPECT_NEAR(20.3, fit.FPEAK, 0.01);
        }
    }
}

} // namespace
} // namespace korax

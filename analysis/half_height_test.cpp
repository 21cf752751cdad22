// The half-height crossings and the fit loop that the O key and PEAKFINDER share.
#include "analysis/half_height.h"
#include "analysis/line_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
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

// The crossing as the search defines it: the first pair (j, j + 1) going out
// from the top whose points lie on both sides of the level or on it.
template <class T>
std::optional<double> plain_crossing(const std::vector<double>& x, const std::vector<T>& y,
                                     std::int32_t first, std::int32_t last, std::int32_t j0,
                                     double level, int direction) {
    const auto at = [&](std::int64_t j) -> std::optional<double> {
        const double a = double(y[std::size_t(j)]), b = double(y[std::size_t(j + 1)]);
        if (!((a - level) * (b - level) <= 0)) return std::nullopt;
        if (a == b) return x[std::size_t(j)];
        return x[std::size_t(j)] +
               (level - a) * (x[std::size_t(j + 1)] - x[std::size_t(j)]) / (b - a);
    };
    if (direction < 0) {
        for (std::int64_t j = std::int64_t(j0) - 1; j >= first; --j)
            if (auto c = at(j)) return c;
    } else {
        for (std::int64_t j = j0; j + 1 <= last; ++j)
            if (auto c = at(j)) return c;
    }
    return std::nullopt;
}

TEST(HalfHeight, RandomWalksAndLevelsCrossWhereAPlainScanCrosses) {
    // Long excursions away from the level send the searches past the short
    // scan into the skipping blocks; tops inside and outside the range, levels
    // on the points, between them, and beyond all of them.
    std::mt19937 random(30);
    std::uniform_int_distribution<std::int32_t> stepping(-40, 40);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int trial = 0; trial < 60; ++trial) {
        const std::int32_t n = trial % 10 == 0 ? 300000 : 50 + std::int32_t(unit(random) * 20000);
        std::vector<double> x(std::size_t(n) + 2);
        std::vector<std::int32_t> y(std::size_t(n) + 2);
        std::int32_t walk = 0;
        for (std::int32_t i = 1; i <= n + 1; ++i) {
            x[std::size_t(i)] = 5000.0 + 0.25 * i;
            walk += stepping(random);
            y[std::size_t(i)] = walk;
        }
        std::vector<double> smooth(y.begin(), y.end());
        for (double& v : smooth)
            v *= 1.0 / 3;
        const std::int32_t first = 1 + std::int32_t(unit(random) * n / 4);
        const std::int32_t last = n - std::int32_t(unit(random) * n / 4);
        HalfHeightFinder ints(x, y, first, last);
        BasicHalfHeightFinder<double> doubles(x, smooth, first, last);
        for (int line = 0; line < 40; ++line) {
            const std::int32_t j0 = 1 + std::int32_t(unit(random) * (n - 1));
            const double top = y[std::size_t(j0)];
            const double offsets[] = {0,    1,    -1, 0.5, -37.25, 3000 * (unit(random) - 0.5),
                                      1e12, -1e12};
            for (double offset : offsets) {
                const double level = top + offset;
                ASSERT_EQ(plain_crossing(x, y, first, last, j0, level, -1), ints.left(j0, level))
                    << n << " points, top " << j0 << ", level " << level;
                ASSERT_EQ(plain_crossing(x, y, first, last, j0, level, 1), ints.right(j0, level))
                    << n << " points, top " << j0 << ", level " << level;
                const double third = level / 3;
                ASSERT_EQ(plain_crossing(x, smooth, first, last, j0, third, -1),
                          doubles.left(j0, third));
                ASSERT_EQ(plain_crossing(x, smooth, first, last, j0, third, 1),
                          doubles.right(j0, third));
            }
        }
    }
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

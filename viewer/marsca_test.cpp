// The on-screen frequency scale: spacing, ticks and labels.
#include "viewer/display.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <vector>

namespace korax {
namespace {

struct Tick {
    double x;
    bool long_tick;
};

// The plot area of an 800-pixel window.
constexpr int SPAN = 795;

std::vector<Tick> ticks_of(double lower, double upper, std::string* line = nullptr,
                           int span = SPAN) {
    std::vector<Tick> ticks;
    std::string l = marsca_layout(lower, upper, span, [&](double x, bool lg) {
        ticks.push_back({x, lg});
    });
    if (line) *line = l;
    return ticks;
}

std::string blanks_of(int n) {
    return std::string(std::size_t(n), ' ');
}

// The text in columns first..last (counted from 1).
std::string columns(const std::string& line, int first, int last) {
    return line.substr(std::size_t(first - 1), std::size_t(last - first + 1));
}

TEST(Marsca, SpacingGivesAtLeast15Intervals) {
    struct Case {
        double range, spacing;
    };
    const double inf = std::numeric_limits<double>::infinity();
    for (auto c :
         {Case{150, 10}, Case{149, 1}, Case{1500000, 100000}, Case{1e9, 100000}, Case{15, 1},
          Case{14.9, 0.1}, Case{0, 0}, Case{-5, 0}, Case{inf, 0}, Case{std::nan(""), 0}}) {
        EXPECT_EQ(c.spacing, marker_spacing(c.range)) << c.range;
    }
    // Below 0.1 the spacing comes from repeated multiplication by 0.1 and lies
    // a hair above the power of ten: 0.15 / 0.010000000000000002 < 15.
    EXPECT_NEAR(0.001, marker_spacing(0.15), 1e-15);
}

TEST(Marsca, TicksAndLongTicksOfARange) {
    std::string line;
    auto ticks = ticks_of(0, 150, &line);
    ASSERT_EQ(16u, ticks.size());
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        EXPECT_DOUBLE_EQ(10.0 * double(k), ticks[k].x);
        EXPECT_EQ(k == 0 || k == 10, ticks[k].long_tick) << k;
    }
    // 100 lies at column trunc(100 / 150 * 80) = 53: label in columns 50..57.
    EXPECT_EQ("   100.0", columns(line, 50, 57));
    EXPECT_EQ(80u, line.size());
    EXPECT_EQ(blanks_of(49), columns(line, 1, 49)) << "no label for the marker at column 0";

    // A range that does not start on a marker begins at the next one.
    ticks = ticks_of(3.5, 160);
    ASSERT_FALSE(ticks.empty());
    EXPECT_DOUBLE_EQ(10.0, ticks.front().x);
    EXPECT_DOUBLE_EQ(160.0, ticks.back().x);
}

TEST(Marsca, LabelsDroppedAtEdgesAndWhereTheyWouldMeet) {
    // 0..1050: spacing 10, long markers every 100, about 7.6 columns apart.
    // Columns: 100 -> 7 (copied), 200 -> 15 (column 9 holds the "0" of 100:
    // dropped), 300 -> 22, 400 -> 30 (dropped), 500 -> 38, 600 -> 45
    // (dropped), 700 -> 53, 800 -> 60 (dropped), 900 -> 68, 1000 -> 76 (past
    // column 75: tick only).
    std::string line;
    auto ticks = ticks_of(0, 1050, &line);
    EXPECT_EQ(106u, ticks.size());
    std::string expected(80, ' ');
    expected.replace(3, 8, "   100.0");
    expected.replace(18, 8, "   300.0");
    expected.replace(34, 8, "   500.0");
    expected.replace(49, 8, "   700.0");
    expected.replace(64, 8, "   900.0");
    EXPECT_EQ(expected, line);
    EXPECT_TRUE(ticks[100].long_tick);
    EXPECT_DOUBLE_EQ(1000.0, ticks[100].x);
}

TEST(Marsca, LargeFrequencyLabels) {
    struct Case {
        double lower;
        const char* label;
    };
    for (auto c : {Case{1000000, "1000100."}, Case{9999000, "9999100."}, Case{10000000, "********"},
                   Case{999000, "999100.0"}}) {
        std::string line;
        ticks_of(c.lower, c.lower + 150, &line);
        EXPECT_EQ(c.label, columns(line, 50, 57)) << c.lower;
    }
}

TEST(Marsca, DegenerateRangesEnd) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double lower, upper;
    };
    for (auto c : {Case{5, 5}, Case{10, 0}, Case{0, inf}, Case{std::nan(""), 3}}) {
        std::string line;
        EXPECT_TRUE(ticks_of(c.lower, c.upper, &line).empty()) << c.lower << " " << c.upper;
        EXPECT_EQ(std::string(80, ' '), line);
    }
    // So far from zero that the spacing no longer moves the marker, nor a
    // pixel column's width.
    EXPECT_LE(ticks_of(1e300, 1.0000000000001e300).size(), std::size_t(SPAN) + 1);
}

// Markers closer than a pixel: the scale must look exactly as if every marker
// had been drawn, one tick per pixel column (long where any long one falls),
// with the same labels, while the work stays within the pixel columns.
TEST(Marsca, DenseMarkersDrawTheSamePictureOncePerPixelColumn) {
    struct Case {
        double lower, upper;
        int span;
    };
    for (auto c : {Case{0, 1050, 20}, Case{3.5, 149, 60}, Case{999000, 1000140, 33},
                   Case{0, 1e7, 50}, Case{123456.7, 9e6, 40}}) {
        std::string sparse_line, dense_line;
        const auto all = ticks_of(c.lower, c.upper, &sparse_line, 1 << 30);
        const auto dense = ticks_of(c.lower, c.upper, &dense_line, c.span);
        ASSERT_GT(all.size(), std::size_t(c.span) + 1) << c.upper << ": not a dense case";
        EXPECT_EQ(sparse_line, dense_line) << c.lower << ".." << c.upper;

        // As the window rounds a plot coordinate to its pixel.
        const auto column = [&](double x) {
            return std::lround(std::floor((x - c.lower) * (c.span / (c.upper - c.lower)) + 0.5));
        };
        std::map<long, bool> expected, drawn; // pixel column -> long tick
        for (const Tick& t : all)
            expected[column(t.x)] = expected[column(t.x)] || t.long_tick;
        for (const Tick& t : dense) {
            EXPECT_EQ(0u, drawn.count(column(t.x))) << "two ticks in column " << column(t.x);
            drawn[column(t.x)] = t.long_tick;
        }
        EXPECT_EQ(expected, drawn) << c.lower << ".." << c.upper;
    }
}

TEST(Marsca, WideAxesCostNoMoreThanThePixels) {
    struct Case {
        double lower, upper;
    };
    // A step of 1e200, an axis spanning 4e20, an axis in Hz (10^12 wide), and
    // one so far out that a marker spacing no longer moves a frequency.
    for (auto c : {Case{0, 999e200}, Case{0, 4e20}, Case{1e11, 1.1e12}, Case{1e30, 1.5e30},
                   Case{-4e20, 4e20}}) {
        std::string line;
        const auto ticks = ticks_of(c.lower, c.upper, &line);
        EXPECT_EQ(std::size_t(SPAN) + 1, ticks.size()) << c.lower << ".." << c.upper;
        for (std::size_t k = 0; k < ticks.size(); ++k) {
            EXPECT_TRUE(ticks[k].long_tick) << "ten markers in every column";
            EXPECT_GE(ticks[k].x, c.lower);
            EXPECT_LE(ticks[k].x, c.upper);
            if (k > 0) {
                EXPECT_LT(ticks[k - 1].x, ticks[k].x);
            }
        }
        // Every label is too wide for its field; they stand 8 columns apart.
        EXPECT_EQ(80u, line.size());
        EXPECT_NE(std::string::npos, line.find("********")) << line;
        EXPECT_EQ(std::string::npos, line.find_first_not_of(" *")) << line;
    }
}

} // namespace
} // namespace korax

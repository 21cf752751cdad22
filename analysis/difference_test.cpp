// The reference on the main grid, the scale between two spectra and their
// difference, against values worked out by hand and spectra of known lines.
#include "analysis/difference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace korax {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(Difference, TheReferenceIsTheLineThroughItsPointsAroundEachFrequency) {
    // 1-based: element 0 is never read.
    const std::vector<double> rf = {-1, 1, 2, 4, 4, 5};
    const std::vector<std::int32_t> ry = {-1, 10, 20, 0, 30, 40};
    struct Case {
        double x, expected;
    };
    // By hand; at 4, where two points share the frequency, the later one
    // starts the next interval, as numpy.interp takes it.
    const Case cases[] = {{0.5, NaN}, {1, 10}, {1.5, 15},    {1.75, 17.5}, {2, 20},     {3, 10},
                          {3.5, 5},   {4, 30}, {4.25, 32.5}, {5, 40},      {5.01, NaN}, {NaN, NaN}};
    std::vector<double> x = {0};
    for (const Case& c : cases)
        x.push_back(c.x);
    std::vector<double> out(x.size(), -7);
    interpolate_reference(x, rf, ry, out);
    for (std::size_t i = 1; i < x.size(); ++i) {
        SCOPED_TRACE(x[i]);
        if (std::isnan(cases[i - 1].expected))
            EXPECT_TRUE(std::isnan(out[i]));
        else
            EXPECT_DOUBLE_EQ(cases[i - 1].expected, out[i]);
    }
    // Falling x walk back over the reference and find the same values.
    const std::vector<double> back = {0, 4.25, 3.5, 1.5};
    std::vector<double> again(back.size());
    interpolate_reference(back, rf, ry, again);
    EXPECT_DOUBLE_EQ(32.5, again[1]);
    EXPECT_DOUBLE_EQ(5, again[2]);
    EXPECT_DOUBLE_EQ(15, again[3]);
}

TEST(Difference, TheScaleFitsAStraightLineThroughTheCoveredPointsOnly) {
    // main = 3 ref + 7 where the reference covers; the uncovered points lie
    // far off that line and must not pull the fit.
    const std::vector<double> ref = {0, NaN, 1, 5, -2, 8, NaN, 4};
    std::vector<std::int32_t> main(ref.size(), 0);
    for (std::size_t i = 1; i < ref.size(); ++i)
        main[i] = std::isnan(ref[i]) ? 90000 : static_cast<std::int32_t>(3 * ref[i] + 7);
    ScaleFit fit = fit_scale(main, ref, 1, 7);
    ASSERT_TRUE(fit.ok);
    EXPECT_DOUBLE_EQ(3, fit.k);
    EXPECT_NEAR(7, fit.c, 1e-12);
    EXPECT_EQ(5, fit.points);
    EXPECT_EQ(5, covered_points(ref, -10, 100));
    // Limited to points 3..5, and held inside the spans.
    fit = fit_scale(main, ref, 3, 5);
    EXPECT_EQ(3, fit.points);
    EXPECT_DOUBLE_EQ(3, fit.k);
    EXPECT_EQ(5, fit_scale(main, ref, -4, 99).points);

    // Nothing to fit: one covered point, none, or a flat reference.
    EXPECT_FALSE(fit_scale(main, ref, 1, 2).ok);
    EXPECT_FALSE(fit_scale(main, ref, 6, 6).ok);
    const std::vector<double> flat = {0, 2, 2, 2, 2};
    const std::vector<std::int32_t> some = {0, 1, 5, 3, 8};
    fit = fit_scale(some, flat, 1, 4);
    EXPECT_FALSE(fit.ok);
    EXPECT_EQ(0, fit.k);
}

// Fits over ranges of every shape, with the blocks kept and without: the same
// k to the last bit, and the k of a plain two-pass computation to 1e-12.
TEST(Difference, FitsReadTheirBlocksAsTheyWouldComputeThem) {
    const std::int32_t n = 10 * FIT_BLOCK + 321;
    std::vector<std::int32_t> main(n + 1);
    std::vector<double> ref(n + 1, NaN);
    for (std::int32_t i = 1; i <= n; ++i) {
        main[std::size_t(i)] =
            static_cast<std::int32_t>(20000 + 900 * std::sin(i / 300.0) + 37 * ((i * 7919) % 13));
        // The reference covers all but the first and last few hundred points.
        if (i > 700 && i < n - 400)
            ref[std::size_t(i)] = 0.4 * main[std::size_t(i)] - 1234.5 + (i % 5);
    }
    const FitBlocks blocks = fit_blocks(main, ref);
    ASSERT_TRUE(blocks.covered);
    const std::pair<std::int32_t, std::int32_t> ranges[] = {{1, n},
                                                            {1, FIT_BLOCK},
                                                            {FIT_BLOCK + 1, 3 * FIT_BLOCK},
                                                            {FIT_BLOCK + 5, 3 * FIT_BLOCK + 9},
                                                            {800, 900},
                                                            {2 * FIT_BLOCK - 3, 2 * FIT_BLOCK + 3},
                                                            {5000, n},
                                                            {650, 760}};
    for (const auto& [first, last] : ranges) {
        SCOPED_TRACE(std::to_string(first) + ".." + std::to_string(last));
        const ScaleFit computed = fit_scale(main, ref, first, last);
        const ScaleFit read = fit_scale(main, ref, first, last, &blocks);
        ASSERT_TRUE(computed.ok);
        EXPECT_EQ(computed.k, read.k);
        EXPECT_EQ(computed.c, read.c);
        EXPECT_EQ(computed.points, read.points);
        double sm = 0, sr = 0, count = 0;
        for (std::int32_t i = first; i <= last; ++i)
            if (!std::isnan(ref[std::size_t(i)])) {
                sm += main[std::size_t(i)];
                sr += ref[std::size_t(i)];
                ++count;
            }
        double sxy = 0, sxx = 0;
        for (std::int32_t i = first; i <= last; ++i)
            if (!std::isnan(ref[std::size_t(i)])) {
                const double dr = ref[std::size_t(i)] - sr / count;
                sxy += dr * (main[std::size_t(i)] - sm / count);
                sxx += dr * dr;
            }
        EXPECT_NEAR(sxy / sxx, computed.k, 1e-12 * std::abs(sxy / sxx));
        EXPECT_EQ(static_cast<std::int64_t>(count), computed.points);
    }
    EXPECT_FALSE(fit_scale(main, ref, 1, 600, &blocks).ok);
}

TEST(Difference, IsTruncatedTowardZeroAndKeepsTheSpectrumWhereNoReferenceIs) {
    const std::vector<double> ref = {0, 3.5, 3.5, NaN, -1e12, 0.25, 2};
    const std::vector<std::int32_t> main = {0, 10, -10, 77, 5, 1, 9};
    std::vector<std::int32_t> out(main.size(), -1);
    const std::int64_t sum = subtract_reference(main, ref, 1.0, out, 1, 6);
    // 6.5 -> 6, -13.5 -> -13, kept, 1e12 held at the top, 0.75 -> 0, 7.
    const std::vector<std::int32_t> expected = {-1, 6, -13, 77, 2147483647, 0, 7};
    EXPECT_EQ(expected, out);
    // The sum of what was written, past the 32-bit range without wrapping.
    EXPECT_EQ(6 - 13 + 77 + std::int64_t{2147483647} + 0 + 7, sum);
    // Its extremes without writing it.
    const DifferenceExtremes e = difference_extremes(main, ref, 1.0, 2, 5);
    EXPECT_EQ(-13, e.first);
    EXPECT_EQ(0, e.last);
    EXPECT_EQ(-13, e.low);
    EXPECT_EQ(2147483647, e.high);
    // In place, over part of the points only.
    std::vector<std::int32_t> same = main;
    subtract_reference(same, ref, -2.0, same, 5, 9);
    EXPECT_EQ((std::vector<std::int32_t>{0, 10, -10, 77, 5, 1, 13}), same);
    // Held at the bottom too, and pairs of points whose second alone is
    // covered take each its own rule.
    const std::vector<double> far = {0, 1e12, NaN, 0.5, NaN, -0.5};
    const std::vector<std::int32_t> near = {0, 5, 6, -7, -8, 9};
    std::vector<std::int32_t> held(near.size(), -1);
    subtract_reference(near, far, 1.0, held, 1, 5);
    EXPECT_EQ((std::vector<std::int32_t>{-1, -2147483647 - 1, 6, -7, -8, 9}), held);
}

// Two recordings of the same lines on different grids: the reference has half
// the lines' strength and a baseline of its own, on a finer grid starting
// elsewhere and covering only part of the main range. The fitted k is the
// true 2, and the difference leaves the main's baseline wherever the reference
// reaches, the main itself elsewhere.
TEST(Difference, TwoRecordingsOfTheSameLinesOnOtherGridsCancel) {
    const auto lines = [](double f) {
        double y = 0;
        for (double centre : {1003.1, 1010.7, 1017.25, 1024.0}) {
            const double t = (f - centre) / 0.8;
            y += 4000 * std::exp(-t * t);
        }
        return y;
    };
    const std::int32_t n = 3000;
    std::vector<double> x(n + 1);
    std::vector<std::int32_t> main(n + 1);
    for (std::int32_t i = 1; i <= n; ++i) {
        x[std::size_t(i)] = 1000 + 0.01 * (i - 1);
        main[std::size_t(i)] = static_cast<std::int32_t>(lines(x[std::size_t(i)]) + 500);
    }
    const std::int32_t m = 2500;
    std::vector<double> rf(m + 1);
    std::vector<std::int32_t> ry(m + 1);
    for (std::int32_t j = 1; j <= m; ++j) {
        rf[std::size_t(j)] = 1002.003 + 0.0073 * (j - 1);
        ry[std::size_t(j)] = static_cast<std::int32_t>(lines(rf[std::size_t(j)]) / 2 - 1200);
    }
    std::vector<double> on_grid(n + 1);
    interpolate_reference(x, rf, ry, on_grid);
    const ScaleFit fit = fit_scale(main, on_grid, 1, n);
    ASSERT_TRUE(fit.ok);
    EXPECT_NEAR(2.0, fit.k, 0.002);
    EXPECT_NEAR(500 + 2 * 1200, fit.c, 5);

    std::vector<std::int32_t> diff(n + 1);
    subtract_reference(main, on_grid, fit.k, diff, 1, n);
    for (std::int32_t i = 1; i <= n; ++i) {
        const double f = x[std::size_t(i)];
        SCOPED_TRACE(f);
        if (f < rf[1] || f > rf[std::size_t(m)])
            ASSERT_EQ(main[std::size_t(i)], diff[std::size_t(i)]);
        else
            ASSERT_NEAR(500 + 2 * 1200, diff[std::size_t(i)], 4);
    }
}

} // namespace
} // namespace korax

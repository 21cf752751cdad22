// The reference as it is drawn: the points shown, the extremes of its blocks,
// and its picture from a few points per pixel column, pixel for pixel that of
// all its points.
#include "analysis/difference.h"
#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/display.h"
#include "viewer/reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace korax {
namespace {

ReferenceSpectrum random_reference(std::int32_t n, double f1, double step, unsigned seed) {
    ReferenceSpectrum r;
    Spectrum& sp = r.spectrum;
    sp.npts = n;
    sp.freq.assign(static_cast<std::size_t>(n) + 2, 0);
    sp.intens.assign(static_cast<std::size_t>(n) + 2, 0);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> jump(-400, 400);
    std::int32_t y = 0;
    for (std::int32_t i = 1; i <= n; ++i) {
        sp.freq[static_cast<std::size_t>(i)] = f1 + (i - 1) * step;
        // A walk with now and then a spike, so that columns have extremes
        // in their middle.
        y = std::clamp(y + jump(random), -20000, 20000);
        sp.intens[static_cast<std::size_t>(i)] = i % 997 == 0 ? 25000 : y;
    }
    index_reference_blocks(r);
    return r;
}

TEST(Reference, PointsShownAreThoseWithinAndOneBeyondEachSide) {
    const std::vector<double> f = {0, 10, 20, 30, 40, 50};
    struct Case {
        double flow, fhigh;
        std::int32_t first, last;
    };
    const Case cases[] = {
        {20, 30, 1, 4},    // 20 and 30 shown, 10 and 40 beyond
        {21, 29, 2, 3},    // between two points: the segment through them
        {0, 100, 1, 5},    // all of it
        {50, 60, 4, 5},    // its last point at the left edge
        {51, 60, 1, 0},    // wholly after it
        {-10, 9.99, 1, 0}, // wholly before it
        {-10, 10, 1, 2},   // its first point at the right edge
    };
    for (const Case& c : cases) {
        const ReferencePoints p = reference_points_shown(f, c.flow, c.fhigh);
        EXPECT_EQ(c.first, p.first) << c.flow << ".." << c.fhigh;
        EXPECT_EQ(c.last, p.last) << c.flow << ".." << c.fhigh;
    }
}

TEST(Reference, BlockExtremesGiveThoseOfEveryRange) {
    const ReferenceSpectrum r = random_reference(5000, 100, 1, 3);
    std::mt19937 random(9);
    for (int trial = 0; trial < 2000; ++trial) {
        std::int32_t a = 1 + static_cast<std::int32_t>(random() % 5000);
        std::int32_t b = 1 + static_cast<std::int32_t>(random() % (trial % 3 == 0 ? 5000 : 200));
        if (trial % 3 != 0) b = std::min(5000, a + b);
        if (b < a) std::swap(a, b);
        const auto from = r.spectrum.intens.begin() + a, to = r.spectrum.intens.begin() + b + 1;
        const auto [low, high] = reference_extremes(r, a, b);
        ASSERT_EQ(*std::min_element(from, to), low) << a << ".." << b;
        ASSERT_EQ(*std::max_element(from, to), high) << a << ".." << b;
    }
}

TEST(Reference, ItsColumnsDrawThePixelsOfAllItsPoints) {
    TestWindow t(800, 540, 30);
    testing::set_geometry(800, 540, 30);
    const std::int32_t n = 200000;
    const ReferenceSpectrum r = random_reference(n, 1000.0, 0.01, 5);
    struct Case {
        double flow, fhigh, gain, offset;
    };
    const Case cases[] = {
        {1000, 2999.99, 1, 0},        // 250 points a column
        {1200.003, 1240.7, 0.3, 500}, // five a column, the edges between points
        {1500, 1503, 2, -100},        // fewer points than columns
        {900, 1100, 1, 0},            // beyond its start: part of the plot only
        {2900, 3100, -0.5, 40},       // beyond its end, turned over
        {1000, 2999.99, 0.05, 0},     // far above and below the limits: clamped
    };
    Window& w = window();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.flow) + ".." + std::to_string(c.fhigh));
        ViewerState v;
        v.FLOW = c.flow;
        v.FHIGH = c.fhigh;
        v.YLOW = -3000;
        v.YHIGH = 3000;
        set_viewer_plot_area();
        set_viewer_coords(v, c.gain, c.offset);
        const double a = (v.YLOW - c.offset) / c.gain, b = (v.YHIGH - c.offset) / c.gain;
        const ReferencePoints shown = reference_points_shown(
            std::span<const double>(r.spectrum.freq.data(), n + 1), c.flow, c.fhigh);
        ASSERT_LE(shown.first, shown.last);
        const auto first = static_cast<std::size_t>(shown.first);
        const auto count = static_cast<std::size_t>(shown.last - shown.first + 1);
        w.set_text_background(1);
        w.clear_plot_area();
        w.set_color(11);
        w.polyline(std::span<const double>(r.spectrum.freq.data() + first, count),
                   std::span<const std::int32_t>(r.spectrum.intens.data() + first, count),
                   std::min(a, b), std::max(a, b));
        const std::vector<std::uint8_t> all = w.canvas().pixels();
        w.clear_plot_area();
        std::vector<double> x;
        std::vector<std::int32_t> y;
        reference_column_points(r, shown.first, shown.last, x, y);
        // Four points a column, the last column's all.
        EXPECT_LE(x.size(), 4u * 802u + 300u);
        w.polyline(x, y, std::min(a, b), std::max(a, b));
        const std::vector<std::uint8_t>& few = w.canvas().pixels();
        int differ = 0;
        for (std::size_t p = 0; p < all.size(); ++p)
            if (all[p] != few[p]) {
                if (differ < 5)
                    ADD_FAILURE() << "pixel " << p % 800 << "," << p / 800 << ": " << int(all[p])
                                  << " against " << int(few[p]);
                ++differ;
            }
        EXPECT_EQ(0, differ);
        EXPECT_GT(std::count(all.begin(), all.end(), 11), 500);
    }
}

// The difference mode draws main - k x reference from its extremes per pixel
// column: the pixels of every point's difference, the reference covering only
// part of the display.
TEST(Reference, TheDifferenceIsDrawnAsAllItsPoints) {
    TestWindow t(800, 540, 30);
    testing::set_geometry(800, 540, 30);
    const std::int32_t n = 150000;
    testing::load_spectrum(n, 1000.0, 0.013, [](std::int32_t i) {
        return static_cast<std::int32_t>(2000 * std::sin(i / 700.0) + (i % 611 == 0 ? 9000 : 0));
    });
    CompareSession& c = compare_session();
    // The session outlives the test: whatever happens, it ends without a reference.
    struct Closed {
        ~Closed() {
            compare_entry();
            release_reference_grid();
            compare_session().reference.reset();
        }
    } closed;
    c.reference = random_reference(100000, 1100.0, 0.0071, 8);
    ++c.reference_generation;
    release_reference_grid();
    c.difference.on = true;
    c.difference.k = 0.37;
    const SpectrumStore& s = store();
    std::vector<std::int32_t> values(static_cast<std::size_t>(n) + 1);
    const std::span<const double> grid = reference_on_grid().first(values.size());
    subtract_reference(std::span<const std::int32_t>(s.INTENS.data(), values.size()), grid, 0.37,
                       values, 1, n);
    Window& w = window();
    for (const auto& [first, last] : {std::pair{1, n}, std::pair{20000, 31000}}) {
        SCOPED_TRACE(first);
        ViewerState v;
        v.IFIRST = first;
        v.ILAST = last;
        v.FLOW = s.FREQ[static_cast<std::size_t>(first)];
        v.FHIGH = s.FREQ[static_cast<std::size_t>(last)];
        v.YLOW = -4000;
        v.YHIGH = 6000;
        set_viewer_plot_area();
        set_viewer_coords(v);
        w.set_text_background(1);
        w.clear_plot_area();
        w.set_color(15);
        const auto from = static_cast<std::size_t>(first);
        const auto count = static_cast<std::size_t>(last - first + 1);
        w.polyline(std::span<const double>(s.FREQ.data() + from, count),
                   std::span<const std::int32_t>(values.data() + from, count), v.YLOW, v.YHIGH);
        const std::vector<std::uint8_t> all = w.canvas().pixels();
        w.clear_plot_area();
        ASSERT_TRUE(draw_difference_trace(v));
        EXPECT_TRUE(all == w.canvas().pixels());
        EXPECT_EQ(values[from + 5], shown_intensity(first + 5));
    }
    c.difference.on = false;
    ViewerState none;
    EXPECT_FALSE(draw_difference_trace(none));
}

} // namespace
} // namespace korax

// The trace drawn from its pixel columns is, pixel for pixel, the trace of all
// its points: whole spectra and zooms, a falling axis, fewer points than
// columns, heights held at the plot's limits, and the two halves of a long
// spectrum whose extremes are taken side by side.
#include "viewer/column_trace.h"

#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace korax {
namespace {

TEST(ColumnTrace, DrawsThePixelsOfAllItsPoints) {
    TestWindow t(800, 540, 30);
    testing::set_geometry(800, 540, 30);
    struct Case {
        const char* what;
        std::int32_t n;
        double step;
        std::int32_t first, last;
        double ylow, yhigh;
    };
    const Case cases[] = {
        {"the whole of a long spectrum, on two threads", 900000, 0.05, 1, 900000, -30000, 30000},
        {"a zoom into its middle", 900000, 0.05, 300001, 320000, -30000, 30000},
        {"a falling axis", 200000, -0.01, 1, 200000, -30000, 30000},
        {"fewer points than columns", 600, 0.5, 1, 600, -30000, 30000},
        {"heights held at the plot's limits", 200000, 0.05, 1, 200000, -3000, 2000},
    };
    Window& w = window();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::mt19937 random(17);
        std::uniform_int_distribution<int> jump(-500, 500);
        std::int32_t walk = 0;
        // A random walk with spikes, so that columns have extremes inside.
        testing::load_spectrum(c.n, 240000.0, c.step, [&](std::int32_t i) {
            walk = std::clamp(walk + jump(random), -20000, 20000);
            return i % 1231 == 0 ? 28000 : walk;
        });
        const SpectrumStore& s = store();
        ViewerState v;
        v.IFIRST = c.first;
        v.ILAST = c.last;
        v.FLOW = std::min(s.FREQ[std::size_t(c.first)], s.FREQ[std::size_t(c.last)]);
        v.FHIGH = std::max(s.FREQ[std::size_t(c.first)], s.FREQ[std::size_t(c.last)]);
        v.YLOW = c.ylow;
        v.YHIGH = c.yhigh;
        set_viewer_plot_area();
        set_viewer_coords(v);
        w.set_text_background(1);
        w.set_color(15);
        w.clear_plot_area();
        const auto from = static_cast<std::size_t>(c.first);
        const auto count = static_cast<std::size_t>(c.last - c.first + 1);
        w.polyline(std::span<const double>(s.FREQ.data() + from, count),
                   std::span<const std::int32_t>(s.INTENS.data() + from, count), v.YLOW, v.YHIGH);
        const std::vector<std::uint8_t> all = w.canvas().pixels();
        w.clear_plot_area();
        draw_column_trace(s.FREQ, s.INTENS, c.first, c.last, v.YLOW, v.YHIGH);
        const std::vector<std::uint8_t>& few = w.canvas().pixels();
        EXPECT_GT(std::count(all.begin(), all.end(), 15), 800);
        int differ = 0;
        for (std::size_t p = 0; p < all.size(); ++p)
            if (all[p] != few[p] && ++differ <= 5)
                ADD_FAILURE() << "pixel " << p % 800 << "," << p / 800 << ": " << int(all[p])
                              << " against " << int(few[p]);
        EXPECT_EQ(0, differ);
    }
}

TEST(ColumnTrace, ExtremesOfEachSpanOnEitherHalf) {
    std::vector<std::int32_t> y(1000002);
    std::mt19937 random(5);
    std::uniform_int_distribution<std::int32_t> value(-2000000000, 2000000000);
    for (auto& v : y)
        v = value(random);
    // Spans of every length, a single point among them, across the middle.
    std::vector<PointSpan> spans;
    for (std::int32_t i = 1, len = 1; i <= 1000000; i += len, len = len % 5000 + 7)
        spans.push_back({i, std::min(i + len - 1, 1000000)});
    std::vector<std::pair<std::int32_t, std::int32_t>> out(spans.size());
    column_extremes(y, spans, out);
    for (std::size_t c = 0; c < spans.size(); ++c) {
        const auto [lo, hi] =
            std::minmax_element(y.begin() + spans[c].first, y.begin() + spans[c].last + 1);
        ASSERT_EQ(*lo, out[c].first) << c;
        ASSERT_EQ(*hi, out[c].second) << c;
    }
}

} // namespace
} // namespace korax

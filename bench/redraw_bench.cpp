// Time of one plot redraw of a fully zoomed-out 3,000,000-point display in an
// 800 x 540 window: index range, frame, trace, cursor, scale and status rows,
// as every shift or zoom key ends. Prints the median of 20 runs; the viewer
// wants it at about 5 ms, little more than the polyline of the trace itself.
#include "spectrum/store.h"
#include "testing/test_window.h"
#include "viewer/display.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

int main() {
    using namespace korax;
    auto& s = store();
    auto& g = s.SCREEN;
    g.MAXX = 799;
    g.MAXY = 539;
    g.NROWS = 30;
    g.NCOLS = 80;
    g.ROWPIX = static_cast<std::int16_t>(std::lround(539.0 / 30) + 1);

    // A noisy baseline with lines on it, like a recorded spectrum.
    constexpr std::int32_t points = MAXPTS;
    std::mt19937 random(2004);
    std::normal_distribution<double> noise(0.0, 300.0);
    double k = 0;
    for (std::int32_t i = 1; i <= points; ++i, k += 1.0) {
        auto j = static_cast<std::size_t>(i);
        s.FREQ[j] = 240000.0 + k * 0.05;
        const double line = (i % 50000) < 200 ? 20000.0 : 0.0;
        s.INTENS[j] = static_cast<std::int32_t>(line + noise(random));
    }
    s.NPTS = points;
    s.FNAME = "bench.001";

    TestWindow tw(800, 540, 30);
    ViewerState v;
    v.FLOW = s.FREQ[1];
    v.FHIGH = s.FREQ[static_cast<std::size_t>(points)];
    v.FCURS = (v.FLOW + v.FHIGH) / 2;
    v.YLOW = -2000;
    v.YHIGH = 25000;
    v.YREF = v.YLOW + 0.25 * (v.YHIGH - v.YLOW);
    full_redraw(v);

    std::vector<double> times;
    for (int run = 0; run < 20; ++run) {
        auto start = std::chrono::steady_clock::now();
        plot_redraw(v);
        auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "plot redraw, %d points displayed: median %.2f ms (min %.2f, max %.2f) over %zu runs\n",
        v.ILAST - v.IFIRST + 1, times[times.size() / 2], times.front(), times.back(), times.size());
    return 0;
}

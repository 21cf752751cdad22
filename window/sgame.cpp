// The spectrum banner SGAME along the bottom of the window. Its lines come from
// one generator for the whole run, seeded from the clock or, for repeatable
// pictures, from a fixed seed; it draws over the whole window and knows no spectrum.
#include "window/sgame.h"

#include "window/window.h"

#include <chrono>
#include <cmath>
#include <random>
#include <vector>

namespace korax {

namespace {

std::optional<std::mt19937_64> g_random;

std::mt19937_64& generator() {
    if (!g_random) {
        const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
        g_random.emplace(static_cast<std::uint64_t>(now));
    }
    return *g_random;
}

// Uniform in [0, 1) from the top 53 bits, the same on every standard library
// (the library's own distributions may differ between implementations, and a
// fixed seed must give the same banner everywhere).
double uniform(std::mt19937_64& g) {
    return static_cast<double>(g() >> 11) * 0x1.0p-53;
}

} // namespace

void set_banner_seed(std::optional<std::uint64_t> seed) {
    if (seed)
        g_random.emplace(*seed);
    else
        g_random.reset();
}

void SGAME() {
    Window& w = window();
    const int maxx = w.width() - 1;
    const int maxy = w.height() - 1;
    w.set_plot_area(0, 0, maxx, maxy);
    // The viewer may have left dashed or exclusive-or drawing behind; the trace
    // must be a closed boundary for the fill.
    w.set_line_style(0xFFFF);
    w.set_write_mode(WriteMode::Copy);

    const int columns = maxx + 1;
    std::vector<double> profile(static_cast<std::size_t>(columns) + 1, 0.0);
    const double s = 50.0 / columns;
    std::mt19937_64& g = generator();
    for (int line = 0; line < 10; ++line) {
        const double r1 = uniform(g);
        const double r2 = uniform(g);
        const double amplitude = 100.0 * r1;
        const double centre = 48.0 * r2 + 1.0;
        for (int i = 1; i <= columns; ++i) {
            const double t = i * s - centre;
            const double u = t * t + 1.0;
            profile[static_cast<std::size_t>(i)] -= amplitude * (3.0 * u - 4.0) / (u * u * u);
        }
    }

    const double y0 = maxy - 40;
    w.set_color(15);
    int y = 0;
    for (int x = 0; x <= maxx; ++x) {
        y = static_cast<int>(std::trunc(y0 - profile[static_cast<std::size_t>(x) + 1]));
        if (y >= maxy) y = maxy - 1;
        if (x == 0)
            w.move_to_px(0, y);
        else
            w.line_to_px(x, y);
    }
    // Closes the trace at the right edge, whose end pixel line_to leaves out.
    w.line_to_px(maxx + 1, y);

    w.set_color(1);
    w.flood_fill(maxx / 2, maxy, 15);
}

} // namespace korax

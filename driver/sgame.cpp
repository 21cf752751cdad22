// The spectrum banner SGAME and the title screen of start-up. The banner's lines
// come from one generator for the whole run, seeded from the clock or, for
// repeatable pictures, from a fixed seed.
#include "driver/sgame.h"

#include "base/format.h"
#include "driver/store.h"
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

constexpr const char* TITLE = "KORAX - spectrum viewer";
constexpr const char* AUTHOR = "KORAX team 2026";
constexpr const char* VERSION = "version 26.VIII.2004";

// A horizontal line across the whole width. The end pixel is drawn too (the
// window's line_to stops short of its end point): the bands are flood filled and
// a gap at the right edge would let the fill escape.
void full_width_line(Window& w, int y, int maxx) {
    w.move_to_px(0, y);
    w.line_to_px(maxx + 1, y);
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
    const int maxx = store().SCREEN.MAXX;
    const int maxy = store().SCREEN.MAXY;
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

void draw_title_screen() {
    Window& w = window();
    const ScreenGeometry& screen = store().SCREEN;
    const int maxx = screen.MAXX;
    w.set_text_cursor(false);
    w.set_plot_area(0, 0, maxx, screen.MAXY);
    w.set_write_mode(WriteMode::Copy);
    w.set_line_style(0xFFFF);
    w.load_fonts();
    w.select_font("t'Arial'h75w25ei");
    w.set_text_background(7);
    w.clear_window();

    w.set_color(15);
    full_width_line(w, 110, maxx);
    full_width_line(w, 0, maxx);
    w.set_color(8);
    w.flood_fill(1, 1, 15);

    const int x0 = (maxx - 620) / 2;
    const struct { int color, dx; } copies[] = {{11, 0}, {9, 1}, {1, 2}};
    for (const auto& c : copies) {
        w.set_color(c.color);
        w.move_to_px(x0 + c.dx, 17 + c.dx);
        w.draw_text(TITLE);
    }

    w.set_color(15);
    full_width_line(w, 142, maxx);
    w.set_color(8);
    w.flood_fill(1, 140, 15);
    w.set_color(0);
    full_width_line(w, 142, maxx);
    w.set_color(7);
    full_width_line(w, 111, maxx);

    w.select_font("t'Arial'h20w10");
    const struct { int color, offset; } shadows[] = {{0, 1}, {15, 0}};
    for (const auto& c : shadows) {
        w.set_color(c.color);
        w.move_to_px(10 + c.offset, 116 + c.offset);
        w.draw_text(VERSION);
        w.move_to_px(maxx - 170 + c.offset, 116 + c.offset);
        w.draw_text(AUTHOR);
    }

    const double row_height = static_cast<double>(screen.MAXY) / screen.NROWS;
    w.set_text_position(static_cast<int>(std::lround(142.0 / row_height)) + 2, 65);
    w.set_text_color(0);
    w.write_chars(fmt_int(MAXPTS, 8) + " points");

    SGAME();
    w.set_text_position(10, 1);
}

} // namespace korax

// The title screen of start-up: two bands with the program's name, its capacity
// and, along the bottom, the spectrum banner.
#include "driver/title_screen.h"

#include "base/format.h"
#include "spectrum/store.h"
#include "window/sgame.h"
#include "window/window.h"

#include <cmath>

namespace korax {

namespace {

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

// The level setting that precedes PEAKFINDER: a baseline line and a cutoff line
// moved over the plot with W and Z, then AUTOPK with both levels.
#include "viewer/levels.h"
#include "analysis/autopk.h"
#include "base/format.h"
#include "spectrum/store.h"
#include "viewer/commands.h"
#include "viewer/display.h"
#include "window/cancel.h"
#include "window/inkey.h"
#include "window/window.h"

#include <cmath>
#include <optional>

namespace korax {

namespace {

// One W/Z step of a level line: lower case one pixel row, upper case ten, each
// truncated to a 16-bit level. nullopt for any other key.
std::optional<std::int16_t> step_level(std::int16_t level, int key, double delta) {
    switch (key) {
    case 'z':
        return to_level(level - delta);
    case 'Z':
        return to_level(to_level(level - delta) - 9 * delta);
    case 'w':
        return to_level(level + delta);
    case 'W':
        return to_level(to_level(level + delta) + 9 * delta);
    default:
        return std::nullopt;
    }
}

bool moves_down(int key) {
    return key == 'z' || key == 'Z';
}

} // namespace

std::int16_t move_baseline(std::int16_t b, int key, double delta, double ylow, double yhigh) {
    const auto next = step_level(b, key, delta);
    if (!next) return b;
    if (moves_down(key)) return *next < ylow ? to_level(ylow) : *next;
    return *next > yhigh ? to_level(yhigh) : *next;
}

std::int16_t move_cutoff(std::int16_t u, int key, double delta, std::int16_t b, double yhigh) {
    const auto next = step_level(u, key, delta);
    if (!next) return u;
    // The cutoff stays above the baseline.
    if (moves_down(key)) return *next <= b ? to_level(b + delta) : *next;
    return *next > yhigh ? to_level(yhigh) : *next;
}

namespace {

void level_line(Window& w, const ViewerState& v, std::int16_t level) {
    w.move_to(v.FLOW, level);
    w.line_to(v.FHIGH, level);
}

void row_message(Window& w, std::string_view text) {
    w.set_text_position(1, 1);
    w.write_chars(blanks(80));
    w.set_text_position(1, 1);
    w.write_chars(pad(text, 80));
}

// Moves the line at `level` with W/w/Z/z until ENTER; exclusive-or drawing, so
// drawing the old line again erases it.
template <class Move>
std::int16_t drag_level(Window& w, const ViewerState& v, std::int16_t level, Move move) {
    level_line(w, v, level);
    for (;;) {
        const std::int16_t key = adjustment_key();
        if (key == KEY_ENTER) return level;
        if (key != 'z' && key != 'Z' && key != 'w' && key != 'W') continue;
        const std::int16_t next = move(level, key);
        level_line(w, v, level);
        level_line(w, v, next);
        level = next;
    }
}

} // namespace

void peakfinder_levels(ViewerState& v) {
    auto& w = window();
    const double delta = (v.YHIGH - v.YLOW) / store().SCREEN.MAXY;
    w.set_text_color(12);
    w.set_text_background(7);
    w.set_text_position(2, 1);
    w.write_chars(blanks(80));
    row_message(w, " Set the baseline level with W,Z keys, terminate with ENTER");

    set_viewer_coords(v);
    w.set_write_mode(WriteMode::Xor);
    w.set_color(12);
    std::int16_t baseline = drag_level(w, v, to_level(v.YMEAN), [&](std::int16_t b, int key) {
        return move_baseline(b, key, delta, v.YLOW, v.YHIGH);
    });

    row_message(w, " Set the Y-axis cutoff with W,Z keys, terminate with ENTER");
    std::int16_t cutoff =
        drag_level(w, v, to_level(baseline + 10 * delta), [&](std::int16_t u, int key) {
            return move_cutoff(u, key, delta, baseline, v.YHIGH);
        });

    w.set_text_color(0);
    w.set_text_background(7);
    double height = v.YHIGH - v.YMEAN;
    std::int32_t first = v.IFIRST, last = v.ILAST;
    AUTOPK(first, last, cutoff, baseline, v.NFIT, height);
}

} // namespace korax

// LOOKFM, the viewer: entry into it, its key loop, and the display arithmetic
// of the keys it handles itself. Keys that open dialogs hand over to the
// commands of their own files and then redraw at the level their command needs.
#include "viewer/lookfm.h"
#include "analysis/intensity_levels.h"

#include "base/format.h"
#include "driver/startg.h"
#include "driver/store.h"
#include "input/speinf.h"
#include "output/gleout.h"
#include "output/savesp.h"
#include "viewer/catalog_keys.h"
#include "viewer/close_question.h"
#include "viewer/command_guard.h"
#include "viewer/commands.h"
#include "viewer/display.h"
#include "viewer/extension_keys.h"
#include "viewer/freqlimits.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace korax {

// ---- frequency limits -----------------------------------------------------------

void shift_lower(FrequencyWindow& d, double fraction, double f1) {
    double w = d.FHIGH - d.FLOW;
    double h = fraction * w;
    double old_high = d.FHIGH;
    d.FLOW -= h;
    if (d.FLOW < f1) {
        d.FLOW = f1;
        h = old_high - f1 - w;
    }
    d.FHIGH -= h;
    d.FCURS -= h;
}

void shift_higher(FrequencyWindow& d, double fraction, double fn) {
    double w = d.FHIGH - d.FLOW;
    double h = fraction * w;
    double old_low = d.FLOW;
    d.FLOW += h;
    d.FHIGH += h;
    if (d.FHIGH > fn) {
        d.FHIGH = fn;
        d.FLOW = fn - w;
    }
    d.FCURS += d.FLOW - old_low;
}

namespace {

// After a zoom the display is held inside the spectrum and the cursor inside
// the display.
void clamp_after_zoom(FrequencyWindow& d, double f1, double fn) {
    if (d.FLOW < f1) d.FLOW = f1;
    if (d.FHIGH > fn) d.FHIGH = fn;
    if (d.FCURS < d.FLOW) d.FCURS = d.FLOW;
    if (d.FCURS > d.FHIGH) d.FCURS = d.FHIGH;
}

} // namespace

void zoom_out(FrequencyWindow& d, double fraction, double f1, double fn) {
    double h = fraction * (d.FHIGH - d.FLOW);
    d.FLOW -= h;
    d.FHIGH += h;
    clamp_after_zoom(d, f1, fn);
}

void zoom_in(FrequencyWindow& d, double half_fraction, double f1, double fn) {
    double h = half_fraction * (d.FHIGH - d.FLOW);
    d.FLOW = d.FCURS - h;
    d.FHIGH = d.FCURS + h;
    clamp_after_zoom(d, f1, fn);
}

void move_home(FrequencyWindow& d, double width, double f1) {
    d.FLOW = f1;
    d.FHIGH = d.FLOW + width;
    d.FCURS = (d.FLOW + d.FHIGH) / 2;
}

void move_end(FrequencyWindow& d, double width, double f1, double fn) {
    d.FHIGH = fn;
    d.FLOW = d.FHIGH - width;
    if (d.FLOW < f1) {
        d.FLOW = f1;
        d.FHIGH = d.FLOW + width;
    }
    d.FCURS = (d.FLOW + d.FHIGH) / 2;
}

// ---- intensity limits -------------------------------------------------------------

namespace {

// Pressing W a hundred times or Z a few thousand times would otherwise leave
// a range of zero or infinity, from which no key could bring the display back.
bool usable_limits(double low, double high) {
    return std::isfinite(low) && std::isfinite(high) && high > low;
}

} // namespace

bool scale_vertical(double& YLOW, double& YHIGH, double YREF, double f) {
    double R = (1 + f) * (YHIGH - YLOW);
    double low = YREF - 0.25 * R, high = YREF + 0.75 * R;
    if (!usable_limits(low, high)) return false;
    YLOW = low;
    YHIGH = high;
    return true;
}

bool shift_vertical(double& YLOW, double& YHIGH, double& YREF, double fraction) {
    double s = fraction * (YHIGH - YLOW);
    double low = YLOW + s, high = YHIGH + s;
    if (!usable_limits(low, high) || !std::isfinite(YREF + s)) return false;
    YLOW = low;
    YHIGH = high;
    YREF += s;
    return true;
}

void invert_intensities(std::span<std::int32_t> y, double YLOW, double YHIGH) {
    for (auto& value : y)
        value = to_intensity(YHIGH - value + YLOW);
}

// ---- cursor -------------------------------------------------------------------------

void step_cursor(double& FCURS, double steps, double FLOW, double FHIGH, double CSTEP) {
    FCURS += steps * CSTEP;
    if (steps < 0) {
        if (FCURS < FLOW + CSTEP) FCURS = FLOW + CSTEP;
    } else {
        if (FCURS > FHIGH - CSTEP) FCURS = FHIGH - CSTEP;
    }
}

void centre_quarter(double& FCURS, double& memo, double FLOW, double FHIGH) {
    double m = (FLOW + FHIGH) / 2;
    if (FCURS != m) {
        memo = FCURS;
        FCURS = m;
        return;
    }
    FCURS = memo < m ? FLOW + 0.75 * (FHIGH - FLOW) : FLOW + 0.25 * (FHIGH - FLOW);
    memo = m;
}

// ---- the viewer -----------------------------------------------------------------------

namespace {

double first_frequency() {
    return store().FREQ[1];
}
double last_frequency() {
    const auto& s = store();
    return s.FREQ[static_cast<std::size_t>(s.NPTS)];
}

FrequencyWindow limits_of(const ViewerState& v) {
    return {v.FLOW, v.FHIGH, v.FCURS};
}
void set_limits(ViewerState& v, const FrequencyWindow& d) {
    v.FLOW = d.FLOW;
    v.FHIGH = d.FHIGH;
    v.FCURS = d.FCURS;
}

// Dialog screens start from a cleared grey window with the text at the top.
void prepare_dialog_window(bool cursor_on) {
    auto& w = window();
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.set_text_position(1, 1);
    if (cursor_on) w.set_text_cursor(true);
}

void move_cursor(ViewerState& v, double steps) {
    draw_cursor(v);
    if (steps == 0)
        centre_quarter(v.FCURS, FMEMO(), v.FLOW, v.FHIGH);
    else
        step_cursor(v.FCURS, steps, v.FLOW, v.FHIGH, v.CSTEP);
    draw_cursor(v);
    v.ICURS = std::clamp(index_of_frequency(v.FCURS), std::int32_t{1}, store().NPTS);
    update_cursor_status(v);
}

void mark_data_points(const ViewerState& v) {
    const auto& s = store();
    auto& w = window();
    double hh = (v.YHIGH - v.YLOW) * 5 / s.SCREEN.MAXY;
    double hw =
        (s.FREQ[static_cast<std::size_t>(v.ILAST)] - s.FREQ[static_cast<std::size_t>(v.IFIRST)]) *
        3.75 / s.SCREEN.MAXX;
    for (std::int32_t i = v.IFIRST; i <= v.ILAST; ++i) {
        double f = s.FREQ[static_cast<std::size_t>(i)];
        double y = s.INTENS[static_cast<std::size_t>(i)];
        if (y < v.YLOW || y > v.YHIGH) continue;
        w.rectangle(Fill::Outline, f - hw, y - hh, f + hw, y + hh);
    }
}

// true: the operator confirmed leaving the viewer.
bool confirm_exit(ViewerState& v) {
    auto& w = window();
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_position(2, 1);
    w.write_chars(blanks(80));
    w.set_text_position(1, 1);
    w.write_chars(blanks(80));
    w.set_text_color(15);
    w.set_text_background(12);
    w.set_text_position(1, 1);
    w.write_chars(" ARE YOU SURE (Y/N) ? ");
    if (wait_for_yes_or_no()) return true;
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_position(1, 1);
    w.write_chars(status_row1(v.ICURS, v.FCURS, v.IFIRST, v.ILAST));
    w.set_text_position(2, 1);
    w.write_chars(blanks(80));
    return false;
}

} // namespace

void lookfm_entry(ViewerState& v) {
    auto& s = store();
    assert(s.NPTS >= 4 && "the readers refuse spectra of fewer than 4 points");

    const EntryLimits limits = entry_limits(s.IYMIN, s.IYMAX);
    v.YLOW = limits.YLOW;
    v.YHIGH = limits.YHIGH;
    v.YREF = limits.YREF;
    v.YREF_ENTRY = v.YREF;

    // A 64-bit float sum of 32-bit integers stays exact for the largest store.
    double sum = 0;
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        auto k = static_cast<std::size_t>(i);
        s.ORIGNL[k] = s.INTENS[k];
        sum += s.INTENS[k];
    }
    v.YMEAN = sum / s.NPTS;

    v.KEYLIN = key_line();

    // A spectrum narrower than the window is continued flat to one point per
    // pixel column, so that nothing reads unset points beyond its end.
    std::int32_t columns = s.SCREEN.MAXX + 1;
    bool extended = s.NPTS < columns;
    double f1 = first_frequency(), fn = last_frequency();
    if (extended) {
        std::int32_t last = std::min(columns, MAXPTS);
        std::int32_t y_last = s.INTENS[static_cast<std::size_t>(s.NPTS)];
        for (std::int32_t i = s.NPTS + 1; i <= last; ++i) {
            auto k = static_cast<std::size_t>(i);
            s.INTENS[k] = y_last;
            s.FREQ[k] =
                f1 + static_cast<double>(i - 1) * (fn - f1) / static_cast<double>(s.NPTS - 1);
        }
    }

    v.FLOW = f1;
    v.FHIGH = extended ? fn : s.FREQ[static_cast<std::size_t>(columns)];
    v.FCURS = (v.FLOW + v.FHIGH) / 2;
    v.NFIT = 7;
    full_redraw(v);
}

bool lookfm_key(ViewerState& v, std::int16_t code) {
    auto& s = store();
    auto& w = window();
    double f1 = first_frequency(), fn = last_frequency();
    FrequencyWindow d = limits_of(v);
    auto frequency_move = [&](auto&& rule) {
        rule(d);
        set_limits(v, d);
        plot_redraw(v);
    };

    if (code == KEY_ENTER) return !confirm_exit(v);
    if (code == KEY_HOME) {
        frequency_move([&](FrequencyWindow& x) { move_home(x, s.SCREEN.MAXX * v.CSTEP, f1); });
        return true;
    }
    if (code == KEY_END) {
        frequency_move([&](FrequencyWindow& x) { move_end(x, s.SCREEN.MAXX * v.CSTEP, f1, fn); });
        return true;
    }
    // Extended keys come as negative codes; their low byte must not pass for a
    // character ("z" is the low byte of -134).
    if (code < 0) return true;
    if (catalog_key(v, code)) return true;

    std::int16_t rows = s.SCREEN.NROWS;
    switch (static_cast<char>(code)) {
    case 'A':
        frequency_move([&](FrequencyWindow& x) { shift_lower(x, 0.5, f1); });
        break;
    case 'a':
        frequency_move([&](FrequencyWindow& x) { shift_lower(x, 0.1, f1); });
        break;
    case 'S':
        frequency_move([&](FrequencyWindow& x) { shift_higher(x, 0.5, fn); });
        break;
    case 's':
        frequency_move([&](FrequencyWindow& x) { shift_higher(x, 0.1, fn); });
        break;
    case 'E':
        frequency_move([&](FrequencyWindow& x) { zoom_in(x, 0.25, f1, fn); });
        break;
    case 'e':
        frequency_move([&](FrequencyWindow& x) { zoom_in(x, 0.45, f1, fn); });
        break;
    case 'Q':
        frequency_move([&](FrequencyWindow& x) { zoom_out(x, 0.5, f1, fn); });
        break;
    case 'q':
        frequency_move([&](FrequencyWindow& x) { zoom_out(x, 0.1, f1, fn); });
        break;
    case 'W':
        (void)scale_vertical(v.YLOW, v.YHIGH, v.YREF, -0.25);
        plot_redraw(v);
        break;
    case 'w':
        (void)scale_vertical(v.YLOW, v.YHIGH, v.YREF, -VFACTOR_5);
        plot_redraw(v);
        break;
    case 'Z':
        (void)scale_vertical(v.YLOW, v.YHIGH, v.YREF, 0.25);
        plot_redraw(v);
        break;
    case 'z':
        (void)scale_vertical(v.YLOW, v.YHIGH, v.YREF, VFACTOR_5);
        plot_redraw(v);
        break;
    case '#':
        (void)shift_vertical(v.YLOW, v.YHIGH, v.YREF, -VFACTOR_10);
        plot_redraw(v);
        break;
    case '3':
        (void)shift_vertical(v.YLOW, v.YHIGH, v.YREF, -VFACTOR_2);
        plot_redraw(v);
        break;
    case '@':
        (void)shift_vertical(v.YLOW, v.YHIGH, v.YREF, VFACTOR_10);
        plot_redraw(v);
        break;
    case '2':
        (void)shift_vertical(v.YLOW, v.YHIGH, v.YREF, VFACTOR_2);
        plot_redraw(v);
        break;
    case '-':
    case '_':
        invert_intensities(
            std::span<std::int32_t>(s.INTENS.data() + 1, static_cast<std::size_t>(s.NPTS)), v.YLOW,
            v.YHIGH);
        v.YMEAN = v.YHIGH - v.YMEAN + v.YLOW;
        plot_redraw(v);
        break;
    case 'F':
    case 'f':
        frequency_limits_screen(v);
        full_redraw(v, false);
        break;
    case 'K':
        move_cursor(v, -8);
        break;
    case 'k':
        move_cursor(v, -1);
        break;
    case 'L':
        move_cursor(v, 8);
        break;
    case 'l':
        move_cursor(v, 1);
        break;
    case ',':
        move_cursor(v, 0);
        break;
    case 'B':
    case 'b':
        key_baseline(v);
        screen_redraw(v);
        break;
    case 'N':
    case 'n':
        prepare_dialog_window(true);
        key_smooth(v);
        screen_redraw(v);
        break;
    case 'M':
    case 'm':
        prepare_dialog_window(true);
        SAVESP();
        screen_redraw(v);
        break;
    case 'H':
    case 'h':
        prepare_dialog_window(false);
        HELP(rows);
        wait_after_help();
        screen_redraw(v);
        break;
    case 'I':
    case 'i':
        prepare_dialog_window(false);
        SPEINF(rows);
        wait_for_enter();
        screen_redraw(v);
        break;
    case 'O':
    case 'o':
        key_measure(v);
        v.STALE = true;
        break;
    case ')':
    case '0':
        key_fitting_width(v);
        screen_redraw(v);
        break;
    case '9':
    case '(':
        key_cursor_as_measurement(v);
        v.STALE = true;
        break;
    case '=':
    case '+':
        key_average(v);
        v.STALE = true;
        break;
    case '^':
        NARGR();
        full_redraw(v, true);
        break;
    case '&':
        key_append(v);
        break;
    case 'G':
    case 'g':
        w.set_text_color(0);
        w.set_text_background(7);
        w.clear_window();
        GLEOUT(v.FLOW, v.FHIGH, v.YLOW, v.YHIGH);
        screen_redraw(v);
        break;
    case 'R':
    case 'r':
        std::copy(s.ORIGNL.begin() + 1, s.ORIGNL.begin() + 1 + s.NPTS, s.INTENS.begin() + 1);
        plot_redraw(v);
        break;
    case 'P':
    case 'p':
        mark_data_points(v);
        break;
    default:
        break;
    }
    return true;
}

void LOOKFM() {
    const CloseQuestionInViewer close_question;
    ViewerState v;
    lookfm_entry(v);
    while (viewer_key(v, INKEY())) {
    }
}

} // namespace korax

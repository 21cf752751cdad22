// LOOKFM, the viewer: entry into it, its key loop, the display arithmetic of the
// keys it handles itself and their commands. Which key runs which command, and
// what is redrawn after it, is the key table's (key_table.cpp).
#include "viewer/lookfm.h"
#include "analysis/intensity_levels.h"

#include "base/format.h"
#include "input/speinf.h"
#include "output/gleout.h"
#include "output/savesp.h"
#include "spectrum/store.h"
#include "viewer/catalog_keys.h"
#include "viewer/close_question.h"
#include "viewer/command_guard.h"
#include "viewer/commands.h"
#include "viewer/display.h"
#include "viewer/extension_keys.h"
#include "viewer/freqlimits.h"
#include "viewer/key_table.h"
#include "viewer/nargr.h"
#include "viewer/reference.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <optional>

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

void zoom_about(FrequencyWindow& d, double factor, double fixed, double f1, double fn) {
    d.FLOW = fixed - factor * (fixed - d.FLOW);
    d.FHIGH = fixed + factor * (d.FHIGH - fixed);
    clamp_after_zoom(d, f1, fn);
}

void zoom_about_cursor(FrequencyWindow& d, double factor, double f1, double fn) {
    zoom_about(d, factor, d.FCURS, f1, fn);
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

bool scale_vertical(double& YLOW, double& YHIGH, double YREF, double f, double data_range) {
    const double r = YHIGH - YLOW;
    double R = (1 + f) * r;
    if (f < 0) R = std::max(R, std::min(r, MIN_VERTICAL_RANGE));
    if (f > 0)
        R = std::min(R, std::max(r, MAX_RANGE_FACTOR * std::max(data_range, MIN_VERTICAL_RANGE)));
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

// A rule of the frequency window applied to the display.
template <class Rule> void move_display(ViewerState& v, Rule&& rule) {
    FrequencyWindow d{v.FLOW, v.FHIGH, v.FCURS};
    rule(d);
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

} // namespace

void lookfm_entry(ViewerState& v, const SessionStart& start) {
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
    compare_entry();
    // Before the first picture, which names on its bottom row what could not be opened.
    open_startup_catalogs(start);
    full_redraw(v);
}

// ---- the commands of LOOKFM's own keys -------------------------------------------------

void key_shift_lower(ViewerState& v, double fraction) {
    move_display(v, [&](FrequencyWindow& d) { shift_lower(d, fraction, first_frequency()); });
}

void key_shift_higher(ViewerState& v, double fraction) {
    move_display(v, [&](FrequencyWindow& d) { shift_higher(d, fraction, last_frequency()); });
}

void key_zoom_in(ViewerState& v, double half_fraction) {
    move_display(v, [&](FrequencyWindow& d) {
        zoom_in(d, half_fraction, first_frequency(), last_frequency());
    });
}

void key_zoom_out(ViewerState& v, double fraction) {
    move_display(
        v, [&](FrequencyWindow& d) { zoom_out(d, fraction, first_frequency(), last_frequency()); });
}

void key_home(ViewerState& v) {
    const double width = store().SCREEN.MAXX * v.CSTEP;
    move_display(v, [&](FrequencyWindow& d) { move_home(d, width, first_frequency()); });
}

void key_end(ViewerState& v) {
    const double width = store().SCREEN.MAXX * v.CSTEP;
    move_display(
        v, [&](FrequencyWindow& d) { move_end(d, width, first_frequency(), last_frequency()); });
}

void key_scale_vertical(ViewerState& v, double f) {
    const auto& s = store();
    const double data_range = static_cast<double>(s.IYMAX) - static_cast<double>(s.IYMIN);
    (void)scale_vertical(v.YLOW, v.YHIGH, v.YREF, f, data_range);
}

void key_autoscale(ViewerState& v) {
    const auto& s = store();
    const std::int32_t first = std::clamp(v.IFIRST, std::int32_t{1}, s.NPTS);
    const std::int32_t last = std::clamp(v.ILAST, first, s.NPTS);
    const auto [low, high] = shown_extremes(first, last);
    const EntryLimits limits = entry_limits(low, high);
    v.YLOW = limits.YLOW;
    v.YHIGH = limits.YHIGH;
    v.YREF = limits.YREF;
}

void key_wheel_zoom(ViewerState& v, double factor) {
    // A notch with the pointer over the plot keeps the frequency under the
    // pointer in its place; one that came with no pointer, or from beside
    // the plot, keeps the cursor's.
    std::optional<double> fixed;
    if (const auto p = window().last_wheel())
        fixed = frequency_at_pixel(p->x, p->y, v.FLOW, v.FHIGH);
    move_display(v, [&](FrequencyWindow& d) {
        zoom_about(d, factor, fixed.value_or(d.FCURS), first_frequency(), last_frequency());
    });
}

void key_whole_spectrum(ViewerState& v) {
    const double f1 = first_frequency(), fn = last_frequency();
    if (v.before_whole && v.FLOW == f1 && v.FHIGH == fn) {
        const ViewerState::View back = *v.before_whole;
        v.before_whole.reset();
        v.FLOW = back.FLOW;
        v.FHIGH = back.FHIGH;
        if (v.FCURS < back.FLOW || v.FCURS > back.FHIGH) v.FCURS = back.FCURS;
        return;
    }
    v.before_whole = ViewerState::View{v.FLOW, v.FHIGH, v.FCURS};
    v.FLOW = f1;
    v.FHIGH = fn;
}

void key_shift_vertical(ViewerState& v, double fraction) {
    (void)shift_vertical(v.YLOW, v.YHIGH, v.YREF, fraction);
}

void key_invert(ViewerState& v) {
    auto& s = store();
    invert_intensities(
        std::span<std::int32_t>(s.INTENS.data() + 1, static_cast<std::size_t>(s.NPTS)), v.YLOW,
        v.YHIGH);
    v.YMEAN = v.YHIGH - v.YMEAN + v.YLOW;
}

void key_restore(ViewerState&) {
    auto& s = store();
    std::copy(s.ORIGNL.begin() + 1, s.ORIGNL.begin() + 1 + s.NPTS, s.INTENS.begin() + 1);
}

void key_cursor(ViewerState& v, double steps) {
    draw_cursor(v);
    if (steps == 0)
        centre_quarter(v.FCURS, FMEMO(), v.FLOW, v.FHIGH);
    else
        step_cursor(v.FCURS, steps, v.FLOW, v.FHIGH, v.CSTEP);
    draw_cursor(v);
    v.ICURS = std::clamp(index_of_frequency(v.FCURS), std::int32_t{1}, store().NPTS);
    update_cursor_status(v);
}

void key_mark_points(ViewerState& v) {
    const auto& s = store();
    auto& w = window();
    const std::span<const std::int32_t> shown = shown_trace(v.IFIRST, v.ILAST);
    double hh = (v.YHIGH - v.YLOW) * 5 / s.SCREEN.MAXY;
    double hw =
        (s.FREQ[static_cast<std::size_t>(v.ILAST)] - s.FREQ[static_cast<std::size_t>(v.IFIRST)]) *
        3.75 / s.SCREEN.MAXX;
    for (std::int32_t i = v.IFIRST; i <= v.ILAST; ++i) {
        double f = s.FREQ[static_cast<std::size_t>(i)];
        double y = shown[static_cast<std::size_t>(i)];
        if (y < v.YLOW || y > v.YHIGH) continue;
        w.rectangle(Fill::Outline, f - hw, y - hh, f + hw, y + hh);
    }
}

void key_smoothing(ViewerState& v) {
    prepare_dialog_window(true);
    key_smooth(v);
}

void key_save(ViewerState&) {
    prepare_dialog_window(true);
    const auto saves = spectrum_saves();
    SAVESP();
    // The spectrum in work is now the file just written: the title, the file
    // name on the screen, the outer menu's "another look" and the folder of
    // later names all go with it, as after opening that file.
    if (spectrum_saves() != saves) store().FNAME = last_saved_path();
}

void key_help(ViewerState&) {
    prepare_dialog_window(false);
    std::int16_t rows = store().SCREEN.NROWS;
    HELP(rows);
    wait_after_help();
}

void key_information(ViewerState&) {
    prepare_dialog_window(false);
    std::int16_t rows = store().SCREEN.NROWS;
    SPEINF(rows);
    wait_for_enter();
}

void key_window_height(ViewerState&) {
    NARGR();
}

void key_gle(ViewerState& v) {
    auto& w = window();
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    GLEOUT(v.FLOW, v.FHIGH, v.YLOW, v.YHIGH);
}

bool key_exit(ViewerState& v) {
    auto& w = window();
    write_message_rows(w, "", "", 0);
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

bool lookfm_key(ViewerState& v, std::int16_t code) {
    const ViewerKey* key = find_viewer_key(code);
    return !key || run_viewer_key(v, *key);
}

void LOOKFM(const SessionStart& start) {
    const CloseQuestionInViewer close_question;
    ViewerState v;
    lookfm_entry(v, start);
    while (viewer_key(v, INKEY())) {
    }
}

} // namespace korax

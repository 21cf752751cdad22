// The viewer's picture: plot area, frame, clamped trace, cursor, status rows and
// key line, and the three redraw levels that every key command ends with.
// Drawing a 3,000,000-point display reads only its intensities, through the
// first, last and extreme points of each pixel column (column_trace.h).
#include "viewer/display.h"

#include "base/format.h"
#include "base/utf8.h"
#include "spectrum/store.h"
#include "viewer/catalog_keys.h"
#include "viewer/column_trace.h"
#include "viewer/peak_marks.h"
#include "viewer/reference.h"
#include "window/window.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <span>

namespace korax {

namespace {

// A float shown in an integer field: truncated, and held inside a range the
// formatter can take (a far-out limit then shows as asterisks, not garbage).
long long truncate_for_field(double y) {
    if (std::isnan(y)) return 0;
    constexpr double limit = 1e18;
    return static_cast<long long>(std::trunc(std::clamp(y, -limit, limit)));
}

// The intensity under the cursor, of the trace shown; the cursor can lie
// beyond the spectrum after typed limits, so the index is held inside it.
std::int32_t cursor_intensity(const ViewerState& v) {
    return shown_intensity(v.ICURS);
}

// A plot coordinate range of zero width (an axis of equal frequencies, or an
// intensity range worn down to nothing) would divide by zero in the mapping.
void widen_if_empty(double& lo, double& hi) {
    if (hi > lo) return;
    double pad_by = std::max(1.0, std::abs(lo) * 1e-6);
    lo -= pad_by;
    hi = lo + 2 * pad_by;
}

} // namespace

std::int32_t index_of(double f, double f1, double fn, std::int32_t npts) {
    double axis = fn - f1;
    if (!(axis != 0.0)) return 1;
    double q = std::round((f - f1) / axis * static_cast<double>(npts - 1));
    if (std::isnan(q)) return 1;
    constexpr double limit = 1073741824.0;
    return static_cast<std::int32_t>(std::clamp(q, -limit, limit)) + 1;
}

std::int32_t index_of_frequency(double f) {
    const auto& s = store();
    return index_of(f, s.FREQ[1], s.FREQ[static_cast<std::size_t>(s.NPTS)], s.NPTS);
}

IndexRange displayed_indices(double FLOW, double FHIGH, double f1, double fn, std::int32_t npts,
                             bool widen) {
    IndexRange r;
    std::int32_t top = std::max(npts, std::int32_t{1});
    // Both ends are held inside the spectrum: limits typed or chosen far outside
    // it must not leave an index pointing past the arrays.
    r.IFIRST = std::clamp(index_of(FLOW, f1, fn, npts), std::int32_t{1}, top);
    r.ILAST = std::clamp(index_of(FHIGH, f1, fn, npts), std::int32_t{1}, top);
    if (r.ILAST < r.IFIRST) r.ILAST = r.IFIRST;
    if (widen) {
        while (r.ILAST - r.IFIRST < 3) {
            IndexRange before = r;
            if (r.IFIRST > 1) --r.IFIRST;
            if (r.ILAST < top) ++r.ILAST;
            if (r.IFIRST == before.IFIRST && r.ILAST == before.ILAST) break;
        }
    }
    return r;
}

std::int32_t to_intensity(double y) {
    if (std::isnan(y)) return 0;
    constexpr double lo = -2147483648.0, hi = 2147483647.0;
    return static_cast<std::int32_t>(std::trunc(std::clamp(y, lo, hi)));
}

std::string status_row1(std::int32_t ICURS, double FCURS, std::int32_t IFIRST, std::int32_t ILAST) {
    std::string row = " X:" + fmt_int(ICURS, 7) + blanks(3) + fmt_fixed(FCURS, 12, 4) +
                      "  <- Cursor" + blanks(8) + "Display limits -> X:" + fmt_int(IFIRST, 7) +
                      fmt_int(ILAST, 8);
    return pad(row, 80);
}

std::string status_row2(std::int32_t y_cursor, double YLOW, double YHIGH) {
    std::string row = " Y:" + fmt_int(y_cursor, 7) + blanks(52) +
                      "Y:" + fmt_int(truncate_for_field(YLOW), 7) +
                      fmt_int(truncate_for_field(YHIGH), 8);
    return pad(row, 80);
}

std::string key_line() {
    return std::string("A-S  Q-E  Z-W  2-3    K-L              ") +
           "                                  H=help ";
}

std::string file_name_field(std::string_view fname) {
    std::string_view name = trim_right(fname);
    if (character_count(name) <= 30) return pad(fname, 30);
    return "..." + std::string(last_characters(name, 28));
}

void set_viewer_plot_area() {
    const auto& g = store().SCREEN;
    window().set_plot_area(2, 2 * g.ROWPIX - 2, g.MAXX - 2, g.MAXY - 2 * g.ROWPIX + 2);
}

void set_viewer_coords(ViewerState& v, double gain, double offset) {
    v.YTICK = (v.YHIGH - v.YLOW) * 0.002;
    if (store().SCREEN.NROWS == 17) v.YTICK *= 2;
    v.YBOTM = v.YLOW - 13 * v.YTICK;
    double x1 = v.FLOW, x2 = v.FHIGH, y1 = v.YBOTM, y2 = v.YHIGH;
    widen_if_empty(x1, x2);
    widen_if_empty(y1, y2);
    // A negative gain turns the axis over: the window maps either way.
    if (gain != 1 || offset != 0) {
        y1 = (y1 - offset) / gain;
        y2 = (y2 - offset) / gain;
    }
    window().set_plot_coords(x1, y1, x2, y2);
}

void draw_cursor(const ViewerState& v) {
    auto& w = window();
    // Exclusive-or, so that drawing it again at the same place takes it away
    // without redrawing the trace beneath.
    w.set_write_mode(WriteMode::Xor);
    w.set_color(14);
    w.move_to(v.FCURS, v.YHIGH);
    w.line_to(v.FCURS, v.YLOW);
    w.set_color(15);
    w.set_write_mode(WriteMode::Copy);
}

void write_status_rows(ViewerState& v) {
    auto& w = window();
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_position(1, 1);
    w.write_chars(status_row1(v.ICURS, v.FCURS, v.IFIRST, v.ILAST));
    w.set_text_position(2, 1);
    w.write_chars(status_row2(cursor_intensity(v), v.YLOW, v.YHIGH));
    // A reference or the difference names itself in the row's blank middle.
    if (const std::string note = reference_status_note(); !note.empty()) {
        w.set_text_position(2, 13);
        w.write_chars(note);
    }
    v.STALE = false;
}

void update_cursor_status(ViewerState& v) {
    catalog_identification(v, false);
    if (v.STALE) {
        write_status_rows(v);
        return;
    }
    auto& w = window();
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_position(1, 4);
    w.write_chars(fmt_int(v.ICURS, 7) + blanks(3) + fmt_fixed(v.FCURS, 12, 4));
    w.set_text_position(2, 5);
    w.write_chars(fmt_int(cursor_intensity(v), 6));
}

void redraw_plot_contents(ViewerState& v) {
    auto& s = store();
    auto& w = window();
    set_viewer_coords(v);
    w.set_line_style(0xFFFF);
    w.set_color(15);
    w.set_text_background(1);
    w.set_write_mode(WriteMode::Copy);
    w.clear_plot_area();
    catalog_overlay(v);
    draw_peak_marks(v);

    w.move_to(v.FLOW, v.YHIGH);
    w.line_to(v.FLOW, v.YLOW);
    w.line_to(v.FHIGH, v.YLOW);
    w.line_to(v.FHIGH, v.YHIGH);
    w.line_to(v.FLOW, v.YHIGH);

    v.IXEXP = 1;
    if (v.ILAST - v.IFIRST < 512) {
        INTERP(v.FLOW, v.FHIGH, v.IFIRST, v.ILAST, v.NEXP, v.IXEXP, v);
        auto n = static_cast<std::size_t>(v.NEXP);
        w.polyline(std::span<const double>(v.FEXP.data() + 1, n),
                   std::span<const std::int32_t>(v.YEXP.data() + 1, n), v.YLOW, v.YHIGH);
    } else if (!draw_difference_trace(v)) {
        draw_column_trace(s.FREQ, s.INTENS, v.IFIRST, v.ILAST, v.YLOW, v.YHIGH);
    }
    draw_reference(v);

    draw_cursor(v);
    MARSCA(v.FLOW, v.FHIGH, v);
    catalog_identification(v, true);
}

void plot_redraw(ViewerState& v) {
    auto& s = store();
    assert(s.NPTS >= 1 && "the viewer needs a loaded spectrum");
    double f1 = s.FREQ[1], fn = s.FREQ[static_cast<std::size_t>(s.NPTS)];

    IndexRange r = displayed_indices(v.FLOW, v.FHIGH, f1, fn, s.NPTS, true);
    v.IFIRST = r.IFIRST;
    v.ILAST = r.ILAST;
    v.FLOW = s.FREQ[static_cast<std::size_t>(v.IFIRST)];
    v.FHIGH = s.FREQ[static_cast<std::size_t>(v.ILAST)];
    v.CSTEP = (v.FHIGH - v.FLOW) / s.SCREEN.MAXX;

    redraw_plot_contents(v);

    v.ICURS = std::clamp(index_of_frequency(v.FCURS), std::int32_t{1}, s.NPTS);
    r = displayed_indices(v.FLOW, v.FHIGH, f1, fn, s.NPTS, false);
    v.IFIRST = r.IFIRST;
    v.ILAST = r.ILAST;
    write_status_rows(v);
    window().set_text_color(15);
}

void screen_redraw(ViewerState& v) {
    auto& w = window();
    const auto& s = store();
    if (v.KEYLIN.empty()) v.KEYLIN = key_line();
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_cursor(false);
    w.set_text_position(s.SCREEN.NROWS, 1);
    w.write_chars(std::string_view(v.KEYLIN).substr(0, 79));
    if (const std::string mark = reference_key_mark(); !mark.empty()) {
        w.set_text_position(s.SCREEN.NROWS, 27);
        w.write_chars(pad(mark, 13));
    }
    w.set_text_color(12);
    w.set_text_position(s.SCREEN.NROWS, 41);
    w.write_chars(file_name_field(s.FNAME));
    plot_redraw(v);
}

void full_redraw(ViewerState& v, bool reset_plot_area) {
    auto& w = window();
    w.set_text_background(7);
    if (reset_plot_area) set_viewer_plot_area();
    w.clear_window();
    screen_redraw(v);
}

} // namespace korax

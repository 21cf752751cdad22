// The series view's picture: the label column, one strip a member (the
// spectrum over the span of offsets around its reference position, scaled to
// its own points, with the predictions in it as ticks and its assigned
// frequency marked), the cursor line through all strips, the offsets under
// them, the status rows and the view's key line. A redraw draws only the
// points inside the strips shown, a few thousand whatever the spectrum holds.
#include "viewer/series_view.h"

#include "base/format.h"
#include "spectrum/store.h"
#include "viewer/catalog_keys.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>

namespace korax {

namespace {

constexpr int STRIP_COLOR = 1, CURRENT_COLOR = 8, TRACE_COLOR = 15, FIT_COLOR = 12,
              CURSOR_COLOR = 14, ASSIGNED_COLOR = 15;

int decimals(const SeriesView& view) {
    return view.mhz_per_unit == 1.0 ? 4 : 6;
}

struct StripsArea {
    int x1 = 0, x2 = 0; // pixels of the strips' left and right edges
    int top = 0, bottom = 0;
};

StripsArea strips_area(const SeriesView& view) {
    const Window& w = window();
    const int nrows = store().SCREEN.NROWS, ch = w.cell_height();
    return {w.column_x(label_columns(view) + 1), w.width() - 3, 2 * ch, (nrows - 2) * ch - 1};
}

std::string number(double value, int places) {
    const std::string field = fmt_fixed(value, 20, places);
    return field.substr(std::min(field.find_first_not_of(' '), field.size()));
}

// One strip in text row `row`: the member's spectrum over the span, its ticks
// and, after X on it, the fitted curve.
void draw_strip(const SeriesView& view, std::size_t member, int row, bool current,
                std::vector<double>& offsets) {
    Window& w = window();
    const SpectrumStore& st = store();
    const auto& s = catalog_session();
    const StripsArea a = strips_area(view);
    const int ch = w.cell_height();
    const int y1 = (row - 1) * ch + 1, y2 = row * ch - 2;
    w.set_plot_area(a.x1, y1, a.x2, y2);
    w.set_text_background(current ? CURRENT_COLOR : STRIP_COLOR);
    w.clear_plot_area();
    const double ref = member_reference(view, member);
    const auto begin = st.FREQ.begin() + 1, end = st.FREQ.begin() + 1 + st.NPTS;
    const auto first = std::lower_bound(begin, end, ref + view.low);
    const auto last = std::upper_bound(first, end, ref + view.high);
    const auto i0 = static_cast<std::size_t>(first - st.FREQ.begin());
    const auto count = static_cast<std::size_t>(last - first);
    const int width = a.x2 - a.x1, height = y2 - y1;
    const auto column = [&](double offset) {
        return static_cast<int>(std::lround((offset - view.low) / (view.high - view.low) * width));
    };

    // The predictions in the span, in their catalogue's colour: the member's
    // own reaches half the strip, the others a quarter.
    const double mpu = view.mhz_per_unit;
    const std::size_t own = view.series.members[member].line;
    for (std::size_t c = 0; c < s.catalogs.size(); ++c) {
        const Catalog& cat = s.catalogs[c];
        w.set_color(cat.color);
        for (std::size_t k = cat.lower_bound((ref + view.low) * mpu);
             k < cat.size() && cat.lines()[k].freq <= (ref + view.high) * mpu; ++k) {
            const bool mine = c == view.catalog && k == own;
            const int x = column(cat.lines()[k].freq / mpu - ref);
            w.vertical_run_px(x, height - (mine ? height / 2 : height / 4), height);
        }
    }
    if (const auto& measured = view.measured[member]) {
        w.set_color(ASSIGNED_COLOR);
        w.vertical_run_px(column(*measured - ref), 0, height / 3);
    }
    if (count >= 2) {
        const auto [low, high] =
            std::minmax_element(st.INTENS.begin() + static_cast<std::ptrdiff_t>(i0),
                                st.INTENS.begin() + static_cast<std::ptrdiff_t>(i0 + count));
        const double mid = (double(*low) + double(*high)) / 2;
        const double half = std::max(1.0, (double(*high) - double(*low)) / 2) * 1.1 / view.vertical;
        w.set_plot_coords(view.low, mid - half, view.high, mid + half);
        offsets.resize(count);
        for (std::size_t k = 0; k < count; ++k)
            offsets[k] = st.FREQ[i0 + k] - ref;
        w.set_color(TRACE_COLOR);
        w.polyline(offsets, std::span<const std::int32_t>(st.INTENS.data() + i0, count), mid - half,
                   mid + half);
        if (view.fit && view.fitted_member == member) {
            const ProfileFit& fit = *view.fit;
            const double lo = std::max(fit.low - ref, view.low),
                         hi = std::min(fit.high - ref, view.high);
            if (lo < hi) {
                const std::size_t samples = 2 * static_cast<std::size_t>(std::max(2, width));
                std::vector<double> cx(samples), cy(samples);
                for (std::size_t k = 0; k < samples; ++k) {
                    cx[k] = lo + (hi - lo) * double(k) / double(samples - 1);
                    cy[k] = std::clamp(fit.curve(cx[k] + ref), mid - half, mid + half);
                }
                w.set_color(FIT_COLOR);
                w.polyline(cx, cy);
            }
        }
    }
    w.set_color(15);
}

} // namespace

std::string series_key_line() {
    return pad(" K-L cursor Q-E span W-Z scale [-] strip X fit T assign A all U back Esc leave",
               79);
}

void write_series_rows(const SeriesView& view) {
    Window& w = window();
    const auto& s = catalog_session();
    const std::size_t member = view.strips[view.current];
    const int places = decimals(view);
    const PredictedLine& line = s.catalogs[view.catalog].lines()[view.series.members[member].line];
    const double prediction = member_prediction(view, member);
    const double shift = view.trend.at(view.series.members[member].order);
    std::string row1(1, ' ');
    row1 += quantum_number_text(line);
    row1 += "   prediction ";
    row1 += number(prediction, places);
    row1 += "   trend ";
    row1 += number(shift, places);
    if (view.measured[member]) {
        row1 += "   assigned ";
        row1 += number(*view.measured[member], places);
    }
    std::string row2 = " Cursor ";
    row2 += number(prediction + shift + view.cursor, places);
    row2 += "   offset ";
    row2 += number(view.cursor, places);
    row2 += "   strip ";
    row2 += std::to_string(view.current + 1);
    row2 += " of ";
    row2 += std::to_string(view.strips.size());
    row2 += "   step ";
    row2 += step_text(view.series.step);
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_position(1, 1);
    w.write_chars(pad(row1, 80).substr(0, 80));
    w.set_text_position(2, 1);
    w.write_chars(pad(row2, 80).substr(0, 80));
    w.set_text_color(15);
}

void draw_series_cursor(const SeriesView& view) {
    Window& w = window();
    const StripsArea a = strips_area(view);
    w.set_plot_area(a.x1, a.top, a.x2, a.bottom);
    w.set_plot_coords(view.low, 0, view.high, 1);
    // Exclusive-or, so that drawing it again at the same place takes it away.
    w.set_write_mode(WriteMode::Xor);
    w.set_color(CURSOR_COLOR);
    w.move_to(view.cursor, 1);
    w.line_to(view.cursor, 0);
    w.set_write_mode(WriteMode::Copy);
    w.set_color(15);
}

void draw_series_view(const ViewerState&, const SeriesView& view, bool keep_rows) {
    Window& w = window();
    const auto& st = store();
    const auto& s = catalog_session();
    const int nrows = st.SCREEN.NROWS;
    const int rows = strip_rows(nrows);
    const int label = label_columns(view);
    w.set_write_mode(WriteMode::Copy);
    w.set_line_style(0xFFFF);
    w.set_text_cursor(false);
    std::vector<double> offsets;
    for (int r = 0; r < rows; ++r) {
        const int row = nrows - 2 - r; // the lowest order at the bottom
        const std::size_t strip = view.bottom + static_cast<std::size_t>(r);
        w.set_text_color(0);
        w.set_text_background(7);
        w.set_text_position(row, 1);
        if (strip >= view.strips.size()) {
            w.write_chars(blanks(80));
            continue;
        }
        const std::size_t member = view.strips[strip];
        const bool current = strip == view.current;
        std::string text(1, view.measured[member] ? '*' : ' ');
        text +=
            quantum_number_text(s.catalogs[view.catalog].lines()[view.series.members[member].line]);
        if (current) w.set_text_background(14);
        w.write_chars(
            pad(text, static_cast<std::size_t>(label)).substr(0, static_cast<std::size_t>(label)));
        w.set_text_background(7);
        w.write_chars(blanks(static_cast<std::size_t>(80 - label)));
        draw_strip(view, member, row, current, offsets);
    }
    // The offsets at the strips' ends and at the reference positions.
    const int places = decimals(view);
    std::string scale = blanks(80);
    const std::string left = number(view.low, places), right = number(view.high, places);
    scale.replace(static_cast<std::size_t>(label), left.size(), left);
    scale.replace(80 - right.size(), right.size(), right);
    if (view.low < 0 && view.high > 0) {
        const StripsArea a = strips_area(view);
        const double x = a.x1 + (0 - view.low) / (view.high - view.low) * (a.x2 - a.x1);
        const auto col = static_cast<std::size_t>(x * 80 / w.width());
        if (col > static_cast<std::size_t>(label) + left.size() && col + 1 < 80 - right.size())
            scale[col] = '0';
    }
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_position(nrows - 1, 1);
    w.write_chars(scale);
    w.set_text_position(nrows, 1);
    w.write_chars(series_key_line());
    w.write_chars(" ");
    draw_series_cursor(view);
    if (!keep_rows) write_series_rows(view);
    w.set_text_color(15);
}

} // namespace korax

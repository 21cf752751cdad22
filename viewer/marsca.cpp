// The frequency scale under the plot: a short tick at every marker, a long one
// at every tenth, and the long ticks' frequencies on the second-to-last row.
// The layout is computed apart from the drawing so that tests can read it.
#include "base/format.h"
#include "spectrum/store.h"
#include "viewer/display.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>

namespace korax {

namespace {

// Labels may stand from column 4 to 75 (1-based centre column `c`).
bool label_fits(double c) {
    return c - 3 > 0 && c + 4 <= 79;
}

std::string label_of(double x) {
    return x < 1000000 ? fmt_fixed(x, 8, 1) : fmt_point(x, 8);
}

// Columns count from 1: the label takes col-3..col+4. Further right it goes in
// only where the previous label has not reached.
void place_label(std::string& line, std::size_t col, double x) {
    if (col <= 7 || line[col - 6 - 1] == ' ') line.replace(col - 3 - 1, 8, label_of(x));
}

double label_column(double x, double lower, double range) {
    return std::trunc((x - lower) / range * 80);
}

// Markers denser than the pixel columns: one tick per column that holds a
// marker (long when one of them is long, since a long tick covers a short one
// in the same column), and per text column the label of its last long marker,
// which is the one the marker-by-marker rule leaves standing there. Markers are
// the multiples of s from `first` to `upper`; `span` is the pixel distance
// from lower to upper, columns sitting at whole pixels from lower.
void dense_layout(double lower, double upper, double s, double first, int span, std::string& line,
                  const std::function<void(double x, bool long_tick)>& tick) {
    const double range = upper - lower;
    const double ten = 10 * s;
    if (tick) {
        // The column a coordinate lands in, computed as the window does.
        const double scale = span / range;
        const auto column = [&](double x) { return std::floor((x - lower) * scale + 0.5); };
        for (int p = 0; p <= span; ++p) {
            const double from = std::max(first, lower + (p - 0.5) / span * range);
            // The first multiple of q in column p; NaN when there is none. The
            // column's edges are rounded, so a neighbour may be the one.
            const auto in_column = [&](double q) {
                double m = std::ceil(from / q) * q;
                // Where q is below the resolution of the frequencies every
                // representable value is as good a marker as any.
                if (m + q == m)
                    m = std::max(first, lower + p * (range / span));
                else if (m - q >= first && column(m - q) == p)
                    m -= q;
                else if (column(m) < p)
                    m += q;
                return m >= first && m <= upper && column(m) == p ? m : std::nan("");
            };
            const double long_marker = in_column(ten);
            if (!std::isnan(long_marker)) {
                tick(long_marker, true);
                continue;
            }
            const double marker = in_column(s);
            if (!std::isnan(marker)) tick(marker, false);
        }
    }
    for (int c = 4; c <= 75; ++c) {
        const double from = std::max(first, lower + c / 80.0 * range);
        const double to = std::min(upper, std::nextafter(lower + (c + 1) / 80.0 * range, lower));
        const double x = std::floor(to / ten) * ten;
        if (!(x >= from)) continue;
        const double col = label_column(x, lower, range);
        if (label_fits(col)) place_label(line, static_cast<std::size_t>(col), x);
    }
}

} // namespace

double marker_spacing(double range) {
    if (!(range > 0) || !std::isfinite(range)) return 0;
    double s = 100000.0;
    // Repeated multiplication, not division: below 0.1 the spacing is then a
    // hair above the power of ten, which decides borderline ranges.
    while (std::trunc(range / s) < 15) {
        s *= 0.1;
        if (!(s > 0)) return 0;
    }
    return s;
}

std::string marsca_layout(double lower, double upper, int span,
                          const std::function<void(double x, bool long_tick)>& tick) {
    std::string line(80, ' ');
    double range = upper - lower;
    double s = marker_spacing(range);
    if (s == 0) return line;
    span = std::max(span, 1);

    double x = std::trunc(lower / s) * s;
    if (x < lower) x += s;
    // The spacing stops at 100000, so a wide axis (Hz, or a step of 1e200) has
    // far more markers than pixels: their ticks merge, and one marker at a
    // time would take minutes or forever.
    const double markers = std::floor((upper - x) / s) + 1;
    if (!(markers <= span + 1)) {
        dense_layout(lower, upper, s, x, span, line, tick);
        return line;
    }
    // Repeated addition may add a marker the count above rounded away; never more.
    for (double left = markers + 1; x <= upper && left > 0; --left) {
        double t = std::round(x / s);
        bool long_tick = std::round(std::trunc(t * 0.1) * 10) == t;
        if (long_tick) {
            double c = label_column(x, lower, range);
            if (label_fits(c)) place_label(line, static_cast<std::size_t>(c), x);
        }
        if (tick) tick(x, long_tick);
        double next = x + s;
        // Far from zero a small spacing no longer moves x; stop rather than spin.
        if (!(next > x)) break;
        x = next;
    }
    return line;
}

int plot_area_span() {
    // The plot area runs from pixel 2 to MAXX - 2 (set_viewer_plot_area).
    return std::max(1, store().SCREEN.MAXX - 4);
}

void MARSCA(const double& flow, const double& fhigh, const ViewerState& v) {
    auto& w = window();
    w.set_color(15);
    std::string line = marsca_layout(flow, fhigh, plot_area_span(), [&](double x, bool long_tick) {
        w.move_to(x, v.YLOW);
        w.line_to(x, v.YLOW - (long_tick ? 13 : 5) * v.YTICK);
    });
    w.set_text_color(1);
    w.set_text_background(7);
    w.set_text_position(store().SCREEN.NROWS - 1, 1);
    w.write_chars(line);
}

} // namespace korax

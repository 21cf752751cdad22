// The viewer's measurement keys: O (fit the line under the cursor), 9 (the cursor
// as a measurement and its ordinate as baseline), = (average and difference of
// the last two measurements) and 0 (fitting width, or PEAKFINDER when negative).
#include "viewer/measure.h"

#include "analysis/half_height.h"
#include "analysis/line_fit.h"
#include "analysis/peakf.h"
#include "base/format.h"
#include "spectrum/store.h"
#include "viewer/commands.h"
#include "viewer/display.h"
#include "window/answer.h"
#include "window/dialog.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace korax {

MeasurementMemory& measurement_memory() {
    static MeasurementMemory memory;
    return memory;
}

LastMeasurement& last_measurement() {
    static LastMeasurement last;
    return last;
}

void remember_measurement(double frequency, double error, double honest_error, std::string doubt) {
    auto& m = measurement_memory();
    m.FPREV = m.FLAST;
    m.FLAST = frequency;
    m.EPREV = m.ELAST;
    m.ELAST = error;
    m.honest_prev = m.honest_last;
    m.honest_last = honest_error;
    m.doubt_prev = std::move(m.doubt_last);
    m.doubt_last = std::move(doubt);
    ++m.count;
}

std::string o_measurement_doubt(bool fwhh_found, bool centre_inside) {
    // A centre outside the points of its fit is an extrapolation; a line
    // whose half height the O key could not find is no line it measured well.
    if (!centre_inside) return "the centre O fitted lies outside its fitting interval";
    if (!fwhh_found) return "O found no half-height width (FWHH) of this line";
    return {};
}

namespace {

constexpr int NTRIES = 4;
constexpr std::int64_t FAR_AWAY = std::int64_t(1) << 40;

// NINT that cannot overflow: a wild value lands far outside every index range.
std::int64_t nint(double x) {
    if (!(x > -double(FAR_AWAY))) return -FAR_AWAY;
    if (x > double(FAR_AWAY)) return FAR_AWAY;
    return static_cast<std::int64_t>(std::round(x));
}

// What the O key measures on: the interpolated display points when the display
// is expanded, otherwise the spectrum itself.
struct MeasureData {
    std::span<const double> x;
    std::span<const std::int32_t> y;
    std::int32_t count = 0;
    std::int32_t first = 1, last = 1; // the displayed points
    bool expanded = false;
};

MeasureData measure_data(const ViewerState& v) {
    MeasureData d;
    if (v.IXEXP > 1) {
        d.x = v.FEXP;
        d.y = v.YEXP;
        d.count = v.NEXP;
        d.first = 1;
        d.last = v.NEXP;
        d.expanded = true;
    } else {
        auto& s = store();
        d.x = s.FREQ;
        d.y = s.INTENS;
        d.count = s.NPTS;
        d.first = v.IFIRST;
        d.last = v.ILAST;
    }
    return d;
}

// The data point a frequency falls on. Unlimited for re-centring a fit (a
// centre off the data is then refused); limited to the data otherwise.
std::int64_t point_of(const ViewerState& v, const MeasureData& d, double f, bool limited) {
    const double width = v.FHIGH - v.FLOW;
    std::int64_t j;
    if (d.expanded)
        j = nint((f - v.FLOW) / width * (d.count - 1)) + 1;
    else
        j = v.IFIRST + nint((f - v.FLOW) * (v.ILAST - v.IFIRST) / width);
    if (limited) j = std::clamp<std::int64_t>(j, 1, d.count);
    return j;
}

void write_rows(Window& w, ViewerState& v, const std::string& row1, const std::string& row2) {
    // A refusal blanks the second row.
    const bool error = row1.size() >= 6 && row1.compare(1, 5, "ERROR") == 0;
    write_message_rows(w, row1, error ? std::string_view() : std::string_view(row2), 1);
    v.STALE = true;
}

void refuse(Window& w, ViewerState& v, const std::string& text) {
    write_rows(w, v, text, "");
}

void draw_line(Window& w, double x1, double y1, double x2, double y2) {
    w.move_to(x1, y1);
    w.line_to(x2, y2);
}

// `left`, `gap` blanks, `label` and `field`: a row of the fixed layout. Where
// numbers widened for a small error make `left` longer than its `left_width`
// columns, the gap gives up as many blanks (down to one), and where the row
// would still run past its 80 columns, the gap and then the leading blanks of
// `field` give up what it needs.
std::string measurement_row(const std::string& left, std::size_t left_width, std::size_t gap,
                            std::string_view label, std::string field) {
    const std::size_t extra = left.size() > left_width ? left.size() - left_width : 0;
    gap = extra < gap ? gap - extra : 1;
    std::size_t over = left.size() + gap + label.size() + field.size();
    over = over > 80 ? over - 80 : 0;
    const std::size_t from_gap = std::min(over, gap - 1);
    gap -= from_gap;
    over -= from_gap;
    field.erase(0, std::min(over, std::min(field.find_first_not_of(' '), field.size())));
    return left + blanks(gap) + std::string(label) + field;
}

// The decimals of a measurement's numbers: the layout's own, unless they
// would show a nonzero error as zero on the spectrum's axis (a fine one in
// wavenumbers, see widens_for); then those that give the error two
// significant digits.
struct RowDecimals {
    int value = 4, error = 4;
};

RowDecimals row_decimals(double value, double error) {
    if (!widens_for(error, 4, store().FSTEP)) return {};
    return {value_decimals(value, error, 4), std::max(4, error_decimals(error))};
}

} // namespace

std::int32_t climb_to_extremum(std::span<const std::int32_t> y, std::int32_t count,
                               std::int32_t start, double ymean) {
    std::int32_t i = std::clamp(start, 1, count);
    auto rise = [&](std::int32_t k) {
        return std::int64_t(y[std::size_t(k + 1)]) - y[std::size_t(k)];
    };
    int s = (i < count && rise(i) >= 0) ? 1 : -1;
    if (!(double(y[std::size_t(i)]) > ymean)) s = -s; // a line pointing down
    const bool up = double(y[std::size_t(i)]) > ymean;
    auto step = [&]() {
        if (i + s < 1 || i + s > count) return false;
        i += s;
        return true;
    };
    if (!step()) return i;
    // The test reads the point to the right, so the climb also ends at the last point.
    while (i < count) {
        const std::int64_t r = rise(i) * s;
        if (up ? r <= 0 : r >= 0) break;
        if (!step()) break;
    }
    return i;
}

std::optional<std::int16_t> accept_fitting_width(std::string_view line) {
    const auto value = read_int<std::int16_t>(line, 5);
    if (!value) return std::nullopt;
    const int n = *value;
    if (std::abs(n) >= 500 || (n >= -4 && n <= 2) || n % 2 == 0) return std::nullopt;
    return *value;
}

void key_measure(ViewerState& v) {
    auto& w = window();
    const std::int64_t np = std::int64_t(v.NFIT) * v.IXEXP;
    if (np < 5) {
        refuse(w, v,
               std::string(" ERROR: 3 point width allowed only") +
                   "on expanded data: increase X-expansion");
        return;
    }
    const MeasureData d = measure_data(v);
    if (d.count < 1) return;

    std::int64_t start;
    if (d.expanded)
        start = nint((v.FCURS - v.FLOW) / (v.FHIGH - v.FLOW) * (v.NEXP - 1)) + 1;
    else
        start = v.ICURS;
    std::int64_t centre = climb_to_extremum(
        d.y, d.count, static_cast<std::int32_t>(std::clamp<std::int64_t>(start, 1, d.count)),
        v.YMEAN);

    const std::int64_t half = np / 2;
    if (centre - half < 1 || centre + half > d.count) {
        refuse(w, v, " ERROR: fitting interval exceeds data bounds");
        return;
    }
    if (np > 500) {
        refuse(w, v,
               std::string(" ERROR: Too many points for peak ") +
                   "measurement: reduce X-expansion");
        return;
    }
    LineFit line;
    const auto recentre = [&](double f) { return point_of(v, d, f, false); };
    switch (fit_and_recentre(d.x, d.y, d.count, centre, static_cast<std::int32_t>(half), NTRIES,
                             recentre, line)) {
    case LineFitOutcome::Fitted:
        break;
    case LineFitOutcome::OutsideData:
        refuse(w, v, " ERROR: fitting interval exceeds data bounds");
        return;
    case LineFitOutcome::NoCurvature:
        // A straight stretch has no vertex: report it rather than show the
        // values of an earlier fit.
        refuse(w, v, " ERROR: line fit failed (no curvature)");
        return;
    }
    centre = line.centre;
    const double FPEAK = line.FPEAK, FPERR = line.FPERR, YPEAK = line.YPEAK, CLIN = line.CLIN,
                 CQUAD = line.CQUAD;
    const std::int16_t nc = line.nc;
    auto& fit = fit_arrays();
    // The points of the last fit lie inside the data: the fit loop checked them.
    const bool centre_inside =
        FPEAK >= d.x[std::size_t(centre - half)] && FPEAK <= d.x[std::size_t(centre + half)];

    // The memory first: the plot redraw identifies the measured line.
    const double level = (YPEAK + v.YMEAN) / 2;
    const auto j0 = static_cast<std::int32_t>(point_of(v, d, FPEAK, true));
    const Crossings crossings = HalfHeightFinder(d.x, d.y, d.first, d.last).around(j0, level);
    const auto& left = crossings.left;
    const auto& right = crossings.right;

    LastMeasurement& last = last_measurement();
    last = LastMeasurement{};
    last.valid = true;
    last.key = 'O';
    last.FPEAK = FPEAK;
    last.FPERR = FPERR;
    last.YPEAK = YPEAK - v.YMEAN;
    last.FWHH = left && right ? std::optional<double>(*right - *left) : std::nullopt;
    last.IXEXP = v.IXEXP;
    last.centre_inside = centre_inside;
    remember_measurement(FPEAK, FPERR, FPERR * std::sqrt(double(v.IXEXP)),
                         o_measurement_doubt(last.FWHH.has_value(), centre_inside));

    // The picture: data, cursor and scale afresh, then the fitted parabola.
    w.set_color(15);
    w.set_text_background(1);
    redraw_plot_contents(v);
    set_viewer_coords(v);
    const int k0 = nc / 2 + 1;
    const double xc = fit.XFIT[std::size_t(k0)];
    const double yc = fit.YFIT[std::size_t(k0)];
    std::vector<double> px(static_cast<std::size_t>(nc)), py(static_cast<std::size_t>(nc));
    for (int k = 1; k <= nc; ++k) {
        const double dx = fit.XFIT[std::size_t(k)];
        px[std::size_t(k - 1)] = k == k0 ? xc : xc + dx;
        py[std::size_t(k - 1)] = k == k0 ? yc : (CQUAD * dx + CLIN) * dx + yc;
    }
    w.set_color(12);
    w.polyline(px, py);

    const std::int64_t edge = d.expanded ? half : v.NFIT / 2;
    const double x_first = d.x[std::size_t(std::clamp<std::int64_t>(centre - edge, 1, d.count))];
    const double x_last = d.x[std::size_t(std::clamp<std::int64_t>(centre + edge, 1, d.count))];
    w.set_color(11);
    draw_line(w, FPEAK, v.YMEAN, FPEAK, YPEAK);
    w.set_color(14);
    w.set_line_style(0x9999);
    draw_line(w, x_first, v.YBOTM, x_first, v.YHIGH);
    draw_line(w, x_last, v.YBOTM, x_last, v.YHIGH);
    w.set_line_style(0xFFFF);
    w.set_color(11);
    draw_line(w, v.FLOW, v.YMEAN, v.FHIGH, v.YMEAN);
    draw_line(w, x_first, YPEAK, x_last, YPEAK);
    if (left && right) {
        w.set_color(14);
        draw_line(w, *left, level, *right, level);
    }
    w.set_color(15);
    MARSCA(v.FLOW, v.FHIGH, v);

    const RowDecimals rd = row_decimals(FPEAK, FPERR);
    const std::string row1 =
        measurement_row(" Fitted peak frequency: " + fmt_widened(FPEAK, 14, 4, rd.value) + " +-" +
                            fmt_widened(FPERR, 7, 4, rd.error),
                        48, 9, "Intensity:", fmt_fixed(YPEAK - v.YMEAN, 12, 2));
    // Without both crossings there is no width to show.
    const std::string width_field =
        left && right ? fmt_widened(*right - *left, 14, 4, rd.value) : blanks(5) + "not found";
    const std::string points =
        v.IXEXP == 1 ? fmt_int(v.NFIT, 9) : fmt_int(v.NFIT, 4) + " *" + fmt_int(v.IXEXP, 3);
    const std::string row2 =
        measurement_row("      Halfwidth (FWHH): " + width_field, 38, 17, "Data points:", points);
    write_rows(w, v, row1, row2);
}

void key_cursor_as_measurement(ViewerState& v) {
    auto& w = window();
    remember_measurement(v.FCURS, 0, 0);
    const MeasureData d = measure_data(v);
    const auto j = static_cast<std::int32_t>(point_of(v, d, v.FCURS, true));
    v.YMEAN = d.y[std::size_t(j)];
    write_rows(
        w, v,
        "    Cursor frequency = " + fmt_fixed(v.FCURS, 14, 4) + "  taken as measured frequency",
        "    Cursor ordinate  = " + fmt_fixed(v.YMEAN, 14, 4) + "  taken as new baseline level");
}

void key_average(ViewerState& v) {
    const auto& m = measurement_memory();
    const double average = (m.FLAST + m.FPREV) / 2;
    const float error = static_cast<float>(std::sqrt(m.EPREV * m.EPREV + m.ELAST * m.ELAST));
    const RowDecimals d = row_decimals(average, error);
    const std::string e = " +-" + fmt_widened(error, 7, 4, d.error);
    // Both values in fields of one width, so that Line1 and Line2 stay one
    // above the other however far the decimals widen them.
    std::string values[] = {fmt_widened(average, 14, 4, d.value),
                            fmt_widened(std::abs(m.FLAST - m.FPREV), 14, 4, d.value)};
    const std::size_t width = std::max(values[0].size(), values[1].size());
    for (std::string& t : values)
        t.insert(0, width - t.size(), ' ');
    const auto row = [&](const char* label, const std::string& value, const char* line, double f) {
        return measurement_row(label + value + e, 48, 11, line, fmt_widened(f, 13, 4, d.value));
    };
    write_rows(window(), v, row("    Average frequency = ", values[0], "Line1 =", m.FLAST),
               row(" Difference frequency = ", values[1], "Line2 =", m.FPREV));
}

void key_fitting_width(ViewerState& v) {
    auto& w = window();
    std::optional<std::int16_t> answer;
    while (!answer) {
        write_message_rows(w, "", "", 1);
        w.set_text_position(1, 1);
        w.write_line(" Current no. of points for fitting lineshape: " + fmt_int(v.NFIT, 3));
        w.write_line("        New number (odd, -ve for PEAKFINDER):  ", LineEnd::Stay);
        answer = accept_fitting_width(w.read_line());
    }
    v.NFIT = static_cast<std::int16_t>(std::abs(*answer));
    if (*answer > 0) return;
    peakfinder_levels(v);
    w.set_text_cursor(false);
    w.set_write_mode(WriteMode::Copy);
}

} // namespace korax

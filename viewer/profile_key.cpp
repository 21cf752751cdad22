// The line-shape fit keys X and x. The fit itself is the analysis library's
// fit_profile on the store's raw points, whatever the display interpolates;
// this file chooses its lines, draws it, writes its rows and remembers it.
#include "viewer/profile_key.h"

#include "analysis/line_window.h"
#include "base/format.h"
#include "catalog/overlay.h"
#include "spectrum/store.h"
#include "viewer/catalog_keys.h"
#include "viewer/display.h"
#include "viewer/measure.h"
#include "window/dialog.h"
#include "window/window.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace korax {

ProfileKeySettings& profile_key_settings() {
    static ProfileKeySettings settings;
    return settings;
}

namespace {

constexpr std::size_t ROW = 80;

std::string number(const char* format, double value) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, format, value);
    return std::string(text, std::size_t(std::clamp(n, 0, int(sizeof text) - 1)));
}

// "baseline 1, lines auto": the settings a result row names after its shape.
std::string lines_text(const ProfileFitSettings& settings) {
    std::string t = "baseline ";
    t += std::to_string(settings.baseline_degree);
    t += ", lines ";
    t += settings.components == 0 ? std::string("auto") : std::to_string(settings.components);
    if (settings.free_widths) t += ", free widths";
    return t;
}

std::string widths_text(const ProfileFit& fit) {
    std::string t = "FWHM";
    if (uses_gauss_width(fit.shape.profile))
        t += " G " + with_error(fit.widths.gauss, fit.width_errors.gauss);
    if (uses_lorentz_width(fit.shape.profile))
        t += " L " + with_error(fit.widths.lorentz, fit.width_errors.lorentz);
    return t;
}

// The predictions of the open catalogues that the fit's window can hold: those
// within its reach of the line under the cursor and at or above the intensity
// threshold, ascending. The line itself when none is near, so that the fit
// still takes the lines from the catalogue (here: just the one).
std::vector<double> predicted_lines(const ViewerState& v, const ProfileFitSettings& settings) {
    const CatalogSession& s = catalog_session();
    if (s.empty()) return {};
    const SpectrumStore& st = store();
    const auto line =
        estimate_line(st.FREQ, st.INTENS, st.NPTS, nearest_point(st.FREQ, st.NPTS, v.FCURS),
                      settings.shape.derivative);
    if (!line) return {};
    std::vector<double> found;
    for (const LineRef& r :
         predictions_within(s, line->centre, settings.window_widths * line->width))
        if (s.line(r).lgint >= s.settings.threshold) found.push_back(s.frequency(r));
    if (found.empty()) found.push_back(line->centre);
    std::sort(found.begin(), found.end());
    return found;
}

void draw_line(Window& w, double x1, double y1, double x2, double y2) {
    w.move_to(x1, y1);
    w.line_to(x2, y2);
}

// The plot afresh, then the fit over it: its window dashed as O shows its
// fitting interval, the fitted curve in the colour of O's parabola, each line's
// centre up to its height, and the residual about a level near the bottom.
void draw_fit(ViewerState& v, const ProfileFit& fit) {
    Window& w = window();
    const SpectrumStore& st = store();
    w.set_color(15);
    w.set_text_background(1);
    redraw_plot_contents(v);
    set_viewer_coords(v);

    const double low = std::max(fit.low, v.FLOW), high = std::min(fit.high, v.FHIGH);
    if (low < high) {
        // Finer than the points where the display is zoomed in beyond them, so
        // that the curve is smooth; at most a few samples per pixel column.
        const double columns = v.CSTEP > 0 ? (high - low) / v.CSTEP : 0;
        const auto samples =
            std::size_t(std::clamp(std::max(2 * columns, double(fit.window.count())), 2.0, 4000.0));
        std::vector<double> cx(samples), cy(samples);
        for (std::size_t k = 0; k < samples; ++k) {
            cx[k] = low + (high - low) * double(k) / double(samples - 1);
            cy[k] = fit.curve(cx[k]);
        }
        w.set_color(12);
        w.polyline(cx, cy);

        const double zero = v.YLOW + 0.1 * (v.YHIGH - v.YLOW);
        std::vector<double> rx, ry;
        for (std::int32_t i = fit.window.first; i <= fit.window.last; ++i) {
            const double x = st.FREQ[std::size_t(i)];
            if (x < low || x > high) continue;
            rx.push_back(x);
            ry.push_back(zero + double(st.INTENS[std::size_t(i)]) - fit.curve(x));
        }
        w.set_color(11);
        draw_line(w, low, zero, high, zero);
        if (rx.size() >= 2) w.polyline(rx, ry);
        for (const FittedComponent& c : fit.components) {
            const double base = fit.baseline(c.centre);
            draw_line(w, c.centre, base, c.centre, base + c.height);
        }
    }
    w.set_color(14);
    w.set_line_style(0x9999);
    draw_line(w, fit.low, v.YBOTM, fit.low, v.YHIGH);
    draw_line(w, fit.high, v.YBOTM, fit.high, v.YHIGH);
    w.set_line_style(0xFFFF);
    w.set_color(15);
    MARSCA(v.FLOW, v.FHIGH, v);
}

// The fit in the measurement memory, the line nearest to the cursor as the
// measured frequency (that is the one = and Ctrl+C take), every line for T.
void remember_fit(const ViewerState& v, const ProfileFit& fit) {
    const auto nearest =
        std::min_element(fit.components.begin(), fit.components.end(),
                         [&](const FittedComponent& a, const FittedComponent& b) {
                             return std::abs(a.centre - v.FCURS) < std::abs(b.centre - v.FCURS);
                         });
    LastMeasurement& last = last_measurement();
    last = LastMeasurement{};
    last.valid = true;
    last.key = 'X';
    last.FPEAK = nearest->centre;
    last.FPERR = nearest->centre_error;
    last.YPEAK = nearest->height;
    last.FWHH = fit.lobe_width;
    for (const FittedComponent& c : fit.components)
        last.lines.push_back(
            {c.centre, c.centre_error, c.height, c.flags.any() ? flags_text(c.flags) : ""});
    // The fit's errors are honest as they are: they come from its residuals.
    remember_measurement(nearest->centre, nearest->centre_error, nearest->centre_error);
}

std::string lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<int> whole_in(const std::string& text, int lo, int hi) {
    if (text.size() != 1 || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
    const int v = text[0] - '0';
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

} // namespace

std::string profile_settings_text(const ProfileFitSettings& settings) {
    std::string t = shape_name(settings.shape);
    t += ", ";
    t += lines_text(settings);
    return t;
}

std::array<std::string, 2> profile_result_rows(const ProfileFit& fit,
                                               const ProfileFitSettings& settings) {
    std::string first(1, ' '), second;
    first += shape_name(fit.shape);
    first += fit.components.size() == 1 ? " fit:" : " blend:";
    for (const FittedComponent& c : fit.components) {
        // A line's doubts go with its frequency, so that none is read without them.
        std::string value = with_error(c.centre, c.centre_error);
        if (c.flags.any()) value += " [" + flags_text(c.flags) + "]";
        if (second.empty() && first.size() + 2 + value.size() <= ROW) {
            first += "  ";
            first += value;
        } else {
            second += second.empty() ? " " : "  ";
            second += value;
        }
    }
    if (fit.components.size() == 1) {
        const FittedComponent& c = fit.components.front();
        const std::string height = with_error(c.height, c.height_error);
        if (first.size() + 9 + height.size() <= ROW) {
            first += "  height ";
            first += height;
        }
    }
    // What follows the lines, as much of it as the row holds: a blend of five
    // lines may leave room for only the widths.
    for (const std::string& item :
         {widths_text(fit), "chi2 " + number("%.2f", fit.reduced_chi_square),
          "rms " + number("%.2f", fit.residual_rms), lines_text(settings)}) {
        const std::size_t gap = second.empty() ? 1 : 2;
        if (second.size() + gap + item.size() > ROW) break;
        second.append(gap, ' ');
        second += item;
    }
    return {std::move(first), std::move(second)};
}

void key_profile_fit(ViewerState& v) {
    Window& w = window();
    const ProfileKeySettings& settings = profile_key_settings();
    const SpectrumStore& st = store();
    std::vector<double> predicted;
    if (settings.at_predictions) predicted = predicted_lines(v, settings.fit);
    // A top flat at the spectrum's extreme is clipped (a text spectrum is
    // rescaled, so its clipped tops are no longer at the 16-bit limits).
    ProfileFitSettings fit = settings.fit;
    if (st.NPTS >= 1) {
        const auto [low, high] =
            std::minmax_element(st.INTENS.begin() + 1, st.INTENS.begin() + 1 + st.NPTS);
        fit.data_low = *low;
        fit.data_high = *high;
    }
    const FitOutcome outcome = fit_profile(st.FREQ, st.INTENS, st.NPTS, v.FCURS, fit, predicted);
    if (!outcome) {
        std::string row1(1, ' ');
        row1 += shape_name(settings.fit.shape);
        row1 += " fit refused: ";
        row1 += refusal_text(outcome.refusal());
        row1 += "; nothing is kept";
        std::string row2(1, ' ');
        row2 += profile_settings_text(settings.fit);
        row2 += " (x sets them)";
        write_message_rows(w, row1, row2, 1);
        v.STALE = true;
        return;
    }
    // The memory first: the plot redraw identifies the measured line.
    remember_fit(v, *outcome);
    draw_fit(v, *outcome);
    const auto rows = profile_result_rows(*outcome, settings.fit);
    write_message_rows(w, rows[0], rows[1], 1);
    v.STALE = true;
}

void key_profile_settings(ViewerState&) {
    Window& w = window();
    ProfileKeySettings next = profile_key_settings();
    open_dialog_screen(w, "P R O F I L E   F I T");
    const SpectrumHeader& h = store().SPHEAD;
    w.write_line("     Profile   gauss, lorentz or voigt, as itself or its derivative 0, 1 or 2");
    w.write_line("               (the header: modulation " + number("%.2f", double(h.FMOD)) +
                 " kHz, deviation " + number("%.2f", double(h.FDEV)) + " kHz)");
    w.write_line("     Baseline  degree of its polynomial over the fit's window, 0, 1 or 2");
    w.write_line("     Lines     1 to 5 fitted together, or 0: as many as the window shows");
    w.write_line("     Catalogue Y: the lines are where the open catalogues predict them");
    w.write_line("     Widths    S: a blend's lines share them (free when the data ask), F: free");
    w.write_line("");
    w.write_line("     ENTER keeps the value shown");
    w.write_line("");
    next.fit.shape = ask_setting(w, "       Profile", shape_name(next.fit.shape), next.fit.shape,
                                 [](const std::string& t) { return parse_shape(lower(t)); });
    next.fit.baseline_degree = ask_setting(
        w, "       Baseline degree", std::to_string(next.fit.baseline_degree),
        next.fit.baseline_degree, [](const std::string& t) { return whole_in(t, 0, 2); });
    next.fit.components =
        ask_setting(w, "       Lines", std::to_string(next.fit.components), next.fit.components,
                    [](const std::string& t) { return whole_in(t, 0, MAX_COMPONENTS); });
    next.at_predictions =
        ask_setting(w, "       Catalogue, Y or N", next.at_predictions ? "Y" : "N",
                    next.at_predictions, [](const std::string& t) -> std::optional<bool> {
                        if (lower(t) == "y") return true;
                        if (lower(t) == "n") return false;
                        return std::nullopt;
                    });
    next.fit.free_widths =
        ask_setting(w, "       Widths, S or F", next.fit.free_widths ? "F" : "S",
                    next.fit.free_widths, [](const std::string& t) -> std::optional<bool> {
                        if (lower(t) == "f") return true;
                        if (lower(t) == "s") return false;
                        return std::nullopt;
                    });
    profile_key_settings() = next;
    w.set_text_cursor(false);
}

} // namespace korax

// The reference spectrum and the difference mode as the picture shows them:
// the reference drawn over the plot on its own vertical scale, the difference
// as the trace, and their marks on the key line and status row 2. The keys
// that open, scale, fit and take them are in reference_keys.cpp.
#include "viewer/reference.h"

#include "analysis/difference.h"
#include "base/file_name.h"
#include "base/format.h"
#include "base/utf8.h"
#include "spectrum/store.h"
#include "viewer/column_trace.h"
#include "viewer/display.h"
#include "viewer/undo.h"
#include "window/dialog.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace korax {

CompareSession& compare_session() {
    static CompareSession session;
    return session;
}

namespace {

GridSource grid_source_now() {
    const SpectrumStore& s = store();
    return {s.NPTS, s.FREQ[1], s.FREQ[static_cast<std::size_t>(s.NPTS)], s.FSTEP,
            compare_session().reference_generation};
}

// The shortest text that reads back to the value, as far as 12 digits go.
std::string number_text(double value, int digits) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

} // namespace

// Computed anew only when the axis (an append, its undo) or the reference
// changed.
std::span<const double> reference_on_grid() {
    CompareSession& c = compare_session();
    DifferenceMode& d = c.difference;
    const GridSource now = grid_source_now();
    if (d.grid_source == now) return d.on_grid;
    d.grid_source.reset();
    const SpectrumStore& s = store();
    const auto n = static_cast<std::size_t>(s.NPTS);
    const Spectrum& r = c.reference->spectrum;
    const auto m = static_cast<std::size_t>(r.npts);
    d.on_grid.resize(n + 2);
    d.on_grid[0] = d.on_grid[n + 1] = std::numeric_limits<double>::quiet_NaN();
    interpolate_reference(std::span<const double>(s.FREQ.data(), n + 1),
                          std::span<const double>(r.freq.data(), m + 1),
                          std::span<const std::int32_t>(r.intens.data(), m + 1),
                          std::span<double>(d.on_grid.data(), n + 1));
    d.grid_source = now;
    return d.on_grid;
}

void compare_entry() {
    DifferenceMode& d = compare_session().difference;
    d.on = false;
    d.values.reset();
    d.values_size = 0;
}

void release_reference_grid() {
    DifferenceMode& d = compare_session().difference;
    std::vector<double>().swap(d.on_grid);
    d.grid_source.reset();
    d.fit_blocks.reset();
    d.fit_source.reset();
}

void note_store_may_change() {
    ++compare_session().store_generation;
}

ScaleFit fit_reference(std::int32_t first, std::int32_t last) {
    CompareSession& c = compare_session();
    DifferenceMode& d = c.difference;
    const SpectrumStore& s = store();
    const auto n = static_cast<std::size_t>(s.NPTS);
    const std::span<const std::int32_t> main(s.INTENS.data(), n + 1);
    const std::span<const double> grid = reference_on_grid().first(n + 1);
    const FitSource now{*d.grid_source, spectrum_history().state(), c.store_generation};
    if (d.fit_source != now) {
        d.fit_source.reset();
        d.fit_blocks = fit_blocks(main, grid);
        d.fit_source = now;
    }
    return fit_scale(main, grid, first, last, &*d.fit_blocks);
}

bool difference_shown() {
    const CompareSession& c = compare_session();
    return c.difference.on && c.reference.has_value();
}

std::span<const std::int32_t> shown_trace(std::int32_t first, std::int32_t last) {
    const SpectrumStore& s = store();
    if (!difference_shown()) return s.INTENS;
    DifferenceMode& d = compare_session().difference;
    const std::span<const double> grid = reference_on_grid();
    const auto n = static_cast<std::size_t>(s.NPTS);
    if (d.values_size != n + 2) {
        d.values.reset(new std::int32_t[n + 2]);
        d.values_size = n + 2;
    }
    first = std::clamp(first, std::int32_t{1}, s.NPTS);
    last = std::clamp(last, first, s.NPTS);
    const std::span<std::int32_t> values(d.values.get(), n + 1);
    subtract_reference(std::span<const std::int32_t>(s.INTENS.data(), n + 1),
                       std::span<const double>(grid.data(), n + 1), d.k, values, first, last);
    return {d.values.get(), d.values_size};
}

std::int32_t shown_intensity(std::int32_t i) {
    const SpectrumStore& s = store();
    i = std::clamp(i, std::int32_t{1}, std::max(s.NPTS, std::int32_t{1}));
    if (!difference_shown()) return s.INTENS[static_cast<std::size_t>(i)];
    const auto n = static_cast<std::size_t>(s.NPTS);
    return difference_extremes(std::span<const std::int32_t>(s.INTENS.data(), n + 1),
                               reference_on_grid().first(n + 1), compare_session().difference.k, i,
                               i)
        .first;
}

std::pair<std::int32_t, std::int32_t> shown_extremes(std::int32_t first, std::int32_t last) {
    const SpectrumStore& s = store();
    first = std::clamp(first, std::int32_t{1}, s.NPTS);
    last = std::clamp(last, first, s.NPTS);
    if (!difference_shown()) {
        const auto [low, high] =
            std::minmax_element(s.INTENS.begin() + first, s.INTENS.begin() + last + 1);
        return {*low, *high};
    }
    const auto n = static_cast<std::size_t>(s.NPTS);
    const DifferenceExtremes e = difference_extremes(
        std::span<const std::int32_t>(s.INTENS.data(), n + 1), reference_on_grid().first(n + 1),
        compare_session().difference.k, first, last);
    return {e.low, e.high};
}

bool draw_difference_trace(ViewerState& v) {
    if (!difference_shown()) return false;
    const SpectrumStore& s = store();
    const auto n = static_cast<std::size_t>(s.NPTS);
    const std::span<const std::int32_t> main(s.INTENS.data(), n + 1);
    const std::span<const double> grid = reference_on_grid().first(n + 1);
    const double k = compare_session().difference.k;
    const std::vector<PointSpan> spans = column_spans(s.FREQ, v.IFIRST, v.ILAST);
    std::vector<DifferenceExtremes> found(spans.size());
    difference_extremes(main, grid, k, spans, found);
    std::vector<std::pair<std::int32_t, std::int32_t>> extremes(spans.size());
    for (std::size_t c = 0; c < spans.size(); ++c)
        extremes[c] = {found[c].low, found[c].high};
    static std::vector<double> x;
    static std::vector<std::int32_t> y;
    // A column's first and last values are its extremes' by-products; the
    // points of the last column come one by one.
    std::size_t c = 0;
    column_points(
        s.FREQ, spans, extremes,
        [&](std::int32_t i) {
            while (c + 1 < spans.size() && spans[c].last < i)
                ++c;
            if (i == spans[c].first) return found[c].first;
            if (i == spans[c].last) return found[c].last;
            return difference_extremes(main, grid, k, i, i).first;
        },
        x, y);
    window().polyline(x, y, v.YLOW, v.YHIGH);
    return true;
}

void scale_to_extremes(ReferenceSpectrum& r, std::int32_t iymin, std::int32_t iymax) {
    const double range = static_cast<double>(r.spectrum.iymax) - r.spectrum.iymin;
    r.gain = range > 0 ? (static_cast<double>(iymax) - iymin) / range : 1.0;
    if (!(r.gain != 0) || !std::isfinite(r.gain)) r.gain = 1.0;
    r.offset = iymin - r.gain * r.spectrum.iymin;
}

ReferencePoints reference_points_shown(std::span<const double> freq, double flow, double fhigh) {
    if (freq.size() < 2) return {};
    const auto m = static_cast<std::int32_t>(freq.size() - 1);
    const auto begin = freq.begin() + 1, end = freq.end();
    // a: the first point at or above flow; b: the last at or below fhigh.
    const auto a = static_cast<std::int32_t>(std::lower_bound(begin, end, flow) - freq.begin());
    const auto b =
        static_cast<std::int32_t>(std::upper_bound(begin, end, fhigh) - freq.begin()) - 1;
    if (a > m || b < 1) return {};
    // One point beyond each side, so that the trace runs to the frame.
    return {std::max(a - 1, std::int32_t{1}), std::min(b + 1, m)};
}

void index_reference_blocks(ReferenceSpectrum& r) {
    const Spectrum& sp = r.spectrum;
    const std::size_t blocks =
        static_cast<std::size_t>((sp.npts + REFERENCE_BLOCK - 1) / REFERENCE_BLOCK);
    r.block_min.assign(blocks, 0);
    r.block_max.assign(blocks, 0);
    for (std::size_t b = 0; b < blocks; ++b) {
        const auto from = sp.intens.begin() + 1 + static_cast<std::ptrdiff_t>(b) * REFERENCE_BLOCK;
        const auto to =
            sp.intens.begin() + 1 +
            std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(b + 1) * REFERENCE_BLOCK, sp.npts);
        const auto [low, high] = std::minmax_element(from, to);
        r.block_min[b] = *low;
        r.block_max[b] = *high;
    }
}

std::pair<std::int32_t, std::int32_t> reference_extremes(const ReferenceSpectrum& r,
                                                         std::int32_t first, std::int32_t last) {
    const std::vector<std::int32_t>& y = r.spectrum.intens;
    std::int32_t low = y[static_cast<std::size_t>(first)], high = low;
    const auto take = [&](std::int32_t from, std::int32_t to) {
        for (std::int32_t i = from; i <= to; ++i) {
            low = std::min(low, y[static_cast<std::size_t>(i)]);
            high = std::max(high, y[static_cast<std::size_t>(i)]);
        }
    };
    // Whole blocks in between from their extremes, the ends point by point.
    const std::int32_t b1 = (first - 1 + REFERENCE_BLOCK - 1) / REFERENCE_BLOCK;
    const std::int32_t b2 = last / REFERENCE_BLOCK; // blocks b1 .. b2 - 1 lie within
    if (b1 >= b2 || r.block_min.empty()) {
        take(first, last);
        return {low, high};
    }
    take(first, b1 * REFERENCE_BLOCK);
    for (std::int32_t b = b1; b < b2; ++b) {
        low = std::min(low, r.block_min[static_cast<std::size_t>(b)]);
        high = std::max(high, r.block_max[static_cast<std::size_t>(b)]);
    }
    take(b2 * REFERENCE_BLOCK + 1, last);
    return {low, high};
}

void reference_column_points(const ReferenceSpectrum& r, std::int32_t first, std::int32_t last,
                             std::vector<double>& x, std::vector<std::int32_t>& y) {
    const std::vector<std::int32_t>& in = r.spectrum.intens;
    const std::vector<PointSpan> spans = column_spans(r.spectrum.freq, first, last);
    std::vector<std::pair<std::int32_t, std::int32_t>> extremes(spans.size());
    for (std::size_t c = 0; c + 1 < spans.size(); ++c)
        if (spans[c].last > spans[c].first)
            extremes[c] = reference_extremes(r, spans[c].first, spans[c].last);
    column_points(
        r.spectrum.freq, spans, extremes,
        [&](std::int32_t i) { return in[static_cast<std::size_t>(i)]; }, x, y);
}

void draw_reference(ViewerState& v) {
    const CompareSession& c = compare_session();
    if (!c.reference || c.difference.on) return;
    const ReferenceSpectrum& r = *c.reference;
    const Spectrum& sp = r.spectrum;
    const ReferencePoints shown = reference_points_shown(
        std::span<const double>(sp.freq.data(), static_cast<std::size_t>(sp.npts) + 1), v.FLOW,
        v.FHIGH);
    if (shown.first > shown.last) return;
    Window& w = window();
    // The reference's own intensities on the plot's axis, through its gain
    // and offset: one mapping of the window, so that the trace is drawn from
    // its points as the main trace is, a run per pixel column.
    set_viewer_coords(v, r.gain, r.offset);
    const double a = (v.YLOW - r.offset) / r.gain, b = (v.YHIGH - r.offset) / r.gain;
    static std::vector<double> x;
    static std::vector<std::int32_t> y;
    reference_column_points(r, shown.first, shown.last, x, y);
    w.set_color(REFERENCE_COLOR);
    w.set_write_mode(WriteMode::Copy);
    w.set_line_style(0xFFFF);
    w.polyline(x, y, std::min(a, b), std::max(a, b));
    set_viewer_coords(v);
    w.set_color(15);
}

std::string k_text(double k) {
    return number_text(k, 6);
}

std::string reference_key_mark() {
    const CompareSession& c = compare_session();
    if (!c.reference) return {};
    return c.difference.on ? "DIFFERENCE" : "+ REFERENCE";
}

std::string reference_status_note() {
    const CompareSession& c = compare_session();
    if (!c.reference) return {};
    constexpr std::size_t room = 48;
    if (c.difference.on) {
        std::string note = "main - " + k_text(c.difference.k) + " x reference";
        if (c.difference.typed) note += " (k typed)";
        return note;
    }
    const std::string_view name = file_part(trim_right(c.reference->spectrum.name));
    const std::string head = "reference: ";
    if (character_count(name) <= room - head.size()) return head + std::string(name);
    return head + "..." + std::string(last_characters(name, room - head.size() - 3));
}

bool refused_in_difference_mode(ViewerState& v, std::int16_t code) {
    if (!difference_shown()) return false;
    switch (code) {
    case 'O':
    case 'o':
    case 'X':
    case '0':
    case ')':
    case '9':
    case '(':
    case 'M':
    case 'm':
    case 'G':
    case 'g':
        break;
    default:
        return false;
    }
    write_message_rows(window(),
                       " The difference is shown, not the spectrum: ! takes it into the "
                       "spectrum,",
                       " ~ shows the spectrum again (O, X, 0, 9, M and G work on the spectrum)",
                       12);
    window().set_text_color(15);
    v.STALE = true;
    return true;
}

} // namespace korax

// The overlay's arithmetic and drawing, and the searches over all open
// catalogues.
#include "catalog/overlay.h"

#include "base/format.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korax {

double stick_fraction(double lg, double lg_max, StickScale scale) {
    if (!(lg <= lg_max)) return 1.0;
    double f = scale == StickScale::Linear ? std::pow(10.0, lg - lg_max)
                                           : 1.0 + (lg - lg_max) / LOG_DECADES;
    return std::clamp(f, 0.0, 1.0);
}

int stick_pixels(double fraction, int height) {
    if (height <= 0) return 0;
    auto px = static_cast<int>(std::lround(fraction * height));
    return std::clamp(px, 1, height);
}

bool CatalogSession::empty() const {
    for (const auto& c : catalogs)
        if (c.size() > 0) return false;
    return true;
}

void CatalogSession::add(Catalog c) {
    c.color = CATALOG_COLORS[catalogs.size() % std::size(CATALOG_COLORS)];
    catalogs.push_back(std::move(c));
    assigned.emplace_back();
}

void CatalogSession::choose_unit(double first, double last) {
    unit = spectrum_unit(catalogs, first, last);
}

void CatalogSession::mark_assigned(LineRef r) {
    auto& list = assigned[r.catalog];
    auto at = std::lower_bound(list.begin(), list.end(), r.line);
    if (at == list.end() || *at != r.line) list.insert(at, r.line);
    // Measured anew: the comparison no longer speaks for it.
    std::erase_if(agreement, [&](const LineAgreement& a) { return a.line == r; });
}

std::optional<Agreement> CatalogSession::agreement_of(LineRef r) const {
    const auto at =
        std::lower_bound(agreement.begin(), agreement.end(), r,
                         [](const LineAgreement& a, const LineRef& b) { return a.line < b; });
    if (at == agreement.end() || at->line != r) return std::nullopt;
    return at->agreement;
}

namespace {

// Orders candidates: nearer first, then stronger, then catalogue and line order.
struct Closer {
    const CatalogSession& s;
    double f;
    bool operator()(const LineRef& a, const LineRef& b) const {
        double da = std::abs(s.line(a).freq - f), db = std::abs(s.line(b).freq - f);
        if (da != db) return da < db;
        float la = s.line(a).lgint, lb = s.line(b).lgint;
        if (la != lb) return la > lb;
        if (a.catalog != b.catalog) return a.catalog < b.catalog;
        return a.line < b.line;
    }
};

} // namespace

std::optional<LineRef> nearest_prediction(const CatalogSession& s, double f) {
    f *= s.mhz_per_unit();
    std::optional<LineRef> best;
    Closer closer{s, f};
    for (std::size_t c = 0; c < s.catalogs.size(); ++c) {
        const auto& lines = s.catalogs[c].lines();
        if (lines.empty()) continue;
        std::size_t i = s.catalogs[c].lower_bound(f);
        // The candidates are the lines at the nearest frequency on either side,
        // all of them when several share it.
        auto consider = [&](std::size_t k) {
            LineRef r{c, k};
            if (!best || closer(r, *best)) best = r;
        };
        if (i < lines.size())
            for (std::size_t k = i; k < lines.size() && lines[k].freq == lines[i].freq; ++k)
                consider(k);
        if (i > 0)
            for (std::size_t k = i; k > 0 && lines[k - 1].freq == lines[i - 1].freq; --k)
                consider(k - 1);
    }
    return best;
}

std::vector<LineRef> predictions_within(const CatalogSession& s, double f, double tolerance) {
    f *= s.mhz_per_unit();
    tolerance *= s.mhz_per_unit();
    std::vector<LineRef> found;
    for (std::size_t c = 0; c < s.catalogs.size(); ++c) {
        const auto& lines = s.catalogs[c].lines();
        for (std::size_t k = s.catalogs[c].lower_bound(f - tolerance);
             k < lines.size() && lines[k].freq <= f + tolerance; ++k)
            found.push_back({c, k});
    }
    std::sort(found.begin(), found.end(), Closer{s, f});
    return found;
}

namespace {

// The first line of `cat` whose frequency in the spectrum's unit is above f
// (at or above for `or_equal`). Decided on the converted frequency, the very
// value a jump puts the cursor at, so that the next jump never finds the line
// the cursor sits on: rounding in the conversion cannot move it across f.
std::size_t first_beyond(const CatalogSession& s, const Catalog& cat, double f, bool or_equal) {
    const double per_unit = s.mhz_per_unit();
    const auto& lines = cat.lines();
    auto beyond = [&](std::size_t k) {
        const double g = lines[k].freq / per_unit;
        return or_equal ? g >= f : g > f;
    };
    std::size_t i = cat.lower_bound(f * per_unit);
    while (i > 0 && beyond(i - 1))
        --i;
    while (i < lines.size() && !beyond(i))
        ++i;
    return i;
}

} // namespace

std::vector<RankedPrediction> rank_predictions(const CatalogSession& s,
                                               const std::vector<LineRef>& found, double f,
                                               double error) {
    std::vector<RankedPrediction> ranked;
    for (LineRef r : found) {
        const double unc = std::hypot(s.uncertainty(r), error);
        const double diff = std::abs(f - s.frequency(r));
        ranked.push_back({r, unc > 0 ? diff / unc : diff});
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [&](const RankedPrediction& a, const RankedPrediction& b) {
                         // Scores as shown (one decimal): equal ones go by intensity.
                         const double sa = std::round(a.score * 10), sb = std::round(b.score * 10);
                         if (sa != sb) return sa < sb;
                         return s.line(a.line).lgint > s.line(b.line).lgint;
                     });
    return ranked;
}

std::optional<LineRef> adjacent_prediction(const CatalogSession& s, double f, bool previous,
                                           double low, double high, double threshold) {
    std::optional<LineRef> best;
    const auto level = static_cast<float>(std::max(threshold, -1e30));
    for (std::size_t c = 0; c < s.catalogs.size(); ++c) {
        const Catalog& cat = s.catalogs[c];
        if (cat.size() == 0) continue;
        std::optional<std::size_t> k;
        if (previous) {
            std::size_t i = first_beyond(s, cat, f, true);
            if (i > 0) k = cat.previous_at_least(i - 1, level);
        } else {
            // Strictly above f: the cursor sits on the line it jumped to.
            k = cat.next_at_least(first_beyond(s, cat, f, false), level);
        }
        if (!k) continue;
        const double fk = s.frequency({c, *k});
        if (fk < low || fk > high) continue;
        if (!best) {
            best = LineRef{c, *k};
            continue;
        }
        const double fb = s.frequency(*best);
        if (previous ? fk > fb : fk < fb) best = LineRef{c, *k};
    }
    return best;
}

std::string identification_row(const CatalogSession& s, LineRef r, std::optional<double> observed) {
    const PredictedLine& l = s.line(r);
    const bool wavenumbers = s.unit == FrequencyUnit::Wavenumber;
    // Wavenumbers need two more decimals for the precision of MHz.
    const int decimals = wavenumbers ? 6 : 4;
    std::string row = std::to_string(r.catalog + 1) + ":" +
                      fmt_fixed(s.frequency(r), 13, decimals) + " +-" +
                      fmt_fixed(s.uncertainty(r), 3 + decimals, decimals);
    if (wavenumbers)
        row += l.given_in_wavenumbers ? " cm-1" : " cm-1<MHz";
    else if (l.given_in_wavenumbers)
        row += " MHz<cm-1";
    if (l.experimental) row += " exp";
    row += "  lg" + fmt_fixed(l.lgint, 8, 4);
    if (observed) row += "  o-c" + fmt_fixed(*observed - s.frequency(r), 5 + decimals, decimals);
    row += "  " + quantum_number_text(l);
    if (l.label != 0) {
        // A label is the database's text: control bytes would not show as
        // one cell each.
        std::string label = s.catalogs[r.catalog].labels()[l.label];
        for (char& c : label)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
        row += "  " + label;
    }
    return pad(row, 80).substr(0, 80);
}

void draw_overlay(Window& w, const CatalogSession& s, double flow, double fhigh, int width,
                  int height) {
    if (width < 2 || height < 1 || !(fhigh > flow)) return;
    // In the catalogues' MHz from here on.
    flow *= s.mhz_per_unit();
    fhigh *= s.mhz_per_unit();
    const double per_px = (fhigh - flow) / (width - 1);
    // Column c takes the frequencies that round to it: [flow + (c - 0.5) px, flow + (c + 0.5) px).
    const double from = flow - 0.5 * per_px, to = flow + (width - 0.5) * per_px;

    float lg_max = -std::numeric_limits<float>::infinity();
    for (const auto& c : s.catalogs)
        lg_max = std::max(lg_max, c.max_lgint(c.lower_bound(from), c.lower_bound(to)));
    if (!std::isfinite(lg_max)) return;

    w.set_write_mode(WriteMode::Copy);
    w.set_line_style(0xFFFF);
    const int bottom = height - 1;
    // The strongest stick stops short of the frame, so that the mark of an
    // assigned line stays visible above it.
    const int tallest = std::max(1, static_cast<int>(0.9 * height));

    const std::size_t n = s.catalogs.size();
    std::vector<std::vector<float>> maxima(n, std::vector<float>(static_cast<std::size_t>(width)));
    std::vector<std::size_t> ends(n);
    for (std::size_t ci = 0; ci < n; ++ci) {
        const Catalog& c = s.catalogs[ci];
        ends[ci] = c.lower_bound(to);
        c.column_maxima(c.lower_bound(from), ends[ci], from, per_px, maxima[ci]);
    }
    for (int col = 0; col < width; ++col) {
        // A later catalogue is drawn over an earlier one; each pixel is set
        // once, by the catalogue whose stick shows there, so a dense zoomed-out
        // view costs no more than one fill of the plot area.
        int covered = 0;
        for (std::size_t ci = n; ci-- > 0;) {
            const float lg = maxima[ci][static_cast<std::size_t>(col)];
            if (!std::isfinite(lg)) continue;
            const int h = stick_pixels(stick_fraction(lg, lg_max, s.scale), tallest);
            if (h <= covered) continue;
            w.set_color(s.catalogs[ci].color);
            w.vertical_run_px(col, bottom - covered, bottom - h + 1);
            covered = h;
        }
    }

    for (std::size_t ci = 0; ci < s.catalogs.size(); ++ci) {
        const Catalog& c = s.catalogs[ci];
        const auto& lines = c.lines();
        const std::size_t end = ends[ci];
        // Assigned lines get a white crossbar on top of their stick: off the
        // stick's own column, so the cursor's exclusive-or line never hides it.
        // After a comparison with new predictions its colour says how far the
        // line lies from its prediction.
        const auto& done = s.assigned[ci];
        for (auto k = std::lower_bound(done.begin(), done.end(), c.lower_bound(from));
             k != done.end() && *k < end; ++k) {
            const PredictedLine& l = lines[*k];
            const std::optional<Agreement> agrees =
                s.agreement.empty() ? std::nullopt : s.agreement_of(LineRef{ci, *k});
            w.set_color(agrees ? AGREEMENT_COLORS[static_cast<int>(*agrees)] : 15);
            int col = static_cast<int>(std::floor((l.freq - from) / per_px));
            int top = bottom - stick_pixels(stick_fraction(l.lgint, lg_max, s.scale), tallest);
            for (int dx = -4; dx <= 4; ++dx)
                w.vertical_run_px(col + dx, top - 1, top);
        }
    }
}

} // namespace korax

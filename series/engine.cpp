// The fits at the members' reference positions, their rounds with the trend
// refitted, the checks across the series, and the records of the members taken.
#include "series/engine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

namespace korax {

LinFrequencies lin_frequencies(const std::string& path) {
    LinFrequencies lin;
    const AssignmentScan scan =
        scan_assignments(path, [&](std::string_view line, std::string_view) {
            // A blank line would read as a record of zeros.
            if (line.find_first_not_of(" \t") == std::string_view::npos) return true;
            if (auto r = record_numbers(line)) {
                const double mhz = std::signbit(r->unc) ? r->freq * MHZ_PER_WAVENUMBER : r->freq;
                if (std::isfinite(mhz)) lin.mhz.emplace(r->fields, mhz);
            }
            return true;
        });
    lin.error = scan.error;
    return lin;
}

std::vector<std::optional<double>> measured_members(const Series& series, const Catalog& catalog,
                                                    const LinFrequencies& lin,
                                                    double mhz_per_unit) {
    std::vector<std::optional<double>> measured(series.members.size());
    for (std::size_t i = 0; i < series.members.size(); ++i) {
        const auto fields = line_fields(catalog.lines()[series.members[i].line]);
        if (!fields) continue;
        if (auto at = lin.mhz.find(*fields); at != lin.mhz.end())
            measured[i] = at->second / mhz_per_unit;
    }
    return measured;
}

Trend series_trend(const Series& series, const Catalog& catalog, double mhz_per_unit,
                   const std::vector<std::optional<double>>& measured) {
    std::vector<double> orders, o_c;
    for (std::size_t i = 0; i < series.members.size(); ++i)
        if (measured[i]) {
            orders.push_back(series.members[i].order);
            o_c.push_back(*measured[i] -
                          catalog.lines()[series.members[i].line].freq / mhz_per_unit);
        }
    return fit_trend(orders, o_c);
}

Excursion seek_line(const SpectrumPoints& points, double reference, double tolerance, int sign) {
    const auto begin = points.x.begin() + 1, end = points.x.begin() + 1 + points.npts;
    const auto first = static_cast<std::size_t>(
        std::lower_bound(begin, end, reference - tolerance) - points.x.begin());
    const auto last = static_cast<std::size_t>(std::upper_bound(begin, end, reference + tolerance) -
                                               points.x.begin());
    if (last < first + 9) return {reference, 0};
    std::vector<double> smooth;
    for (std::size_t i = first + 2; i + 2 < last; ++i) {
        double sum = 0;
        for (std::size_t k = i - 2; k <= i + 2; ++k)
            sum += points.y[k];
        smooth.push_back(sum / 5);
    }
    std::vector<double> sorted = smooth;
    std::nth_element(sorted.begin(),
                     sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
    const double level = sorted[sorted.size() / 2];
    std::size_t best = 0;
    double largest = -std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < smooth.size(); ++k) {
        const double d = smooth[k] - level;
        const double e = sign == 0 ? std::abs(d) : sign * d;
        if (e > largest) {
            largest = e;
            best = k;
        }
    }
    return {points.x[first + 2 + best], smooth[best] - level};
}

namespace {

// A reduced chi-square up to which a line fitted alone is taken as alone.
constexpr double ALONE_CHI_SQUARE = 1.5;
// Beyond this the window holds what further lines of the same widths rarely
// explain (the wing of a strong line outside it, a step of the baseline): on
// the series benchmark (bench/series_assign.sh) searching these too took 52
// members more of 1016, none of them wrong, at 3.5 times the time of all the
// rest. The line alone is kept, flagged for its shape.
constexpr double HOPELESS_CHI_SQUARE = 400;

} // namespace

FitReading fit_member(const Series& series, const std::vector<Catalog>& catalogs,
                      std::size_t series_catalog, std::size_t member, double position,
                      double trend_shift, const SpectrumPoints& points,
                      const SeriesFitSettings& settings) {
    const double mpu = settings.mhz_per_unit;
    const std::size_t own = series.members[member].line;
    // The predictions near the position, in the spectrum's unit: for the fit's
    // lines (moved by the member's trend, the best guess of where they are)
    // and for the blend check (as predicted).
    const double reach = 25 * settings.tolerance;
    struct Near {
        double freq;
        bool own;
    };
    std::vector<Near> near;
    for (std::size_t c = 0; c < catalogs.size(); ++c) {
        const auto& lines = catalogs[c].lines();
        for (std::size_t k = catalogs[c].lower_bound((position - trend_shift - reach) * mpu);
             k < lines.size() && lines[k].freq <= (position - trend_shift + reach) * mpu; ++k)
            near.push_back({lines[k].freq / mpu, c == series_catalog && k == own});
    }
    std::vector<double> predicted;
    if (settings.at_predictions) {
        for (const Near& p : near)
            predicted.push_back(p.freq + trend_shift);
        std::sort(predicted.begin(), predicted.end());
    }
    FitReading r;
    bool done = false;
    if (settings.fit.components == 0 && predicted.empty()) {
        // Most members are lines of their own: one line fitted alone, costing
        // a tenth of the search for further lines, is kept when its residual
        // is no more than the noise's; otherwise the search decides.
        ProfileFitSettings alone = settings.fit;
        alone.components = 1;
        const FitOutcome first = fit_profile(points.x, points.y, points.npts, position, alone);
        // A line beyond the tolerance is skipped whatever lies beside it.
        const auto nearest = [&](const ProfileFit& f) {
            double d = std::numeric_limits<double>::infinity();
            for (const FittedComponent& c : f.components)
                d = std::min(d, std::abs(c.centre - position));
            return d;
        };
        if (first && (first->reduced_chi_square <= ALONE_CHI_SQUARE ||
                      first->reduced_chi_square > HOPELESS_CHI_SQUARE ||
                      nearest(*first) > settings.tolerance)) {
            r = read_fit(first, position, points.npts);
            done = true;
        }
    }
    if (!done)
        r = read_fit(
            fit_profile(points.x, points.y, points.npts, position, settings.fit, predicted),
            position, points.npts);
    if (r.fitted)
        for (const Near& p : near)
            if (!p.own && std::abs(p.freq - r.centre) < r.lobe_width) add_flag(r, FLAG_BLEND);
    return r;
}

namespace {

struct Candidate {
    std::size_t member = 0;
    double prediction = 0;
    double order = 0;
    bool fitted_once = false;
    double reference = 0;
    double position = 0;             // where the line was looked for
    FitReading fit;                  // with the fit's own flags only
    std::vector<std::string> across; // flags of the checks across the series
};

bool within(const Candidate& c, double tolerance) {
    return c.fit.fitted && std::abs(c.fit.centre - c.reference) <= tolerance;
}

ReviewDecision decision_of(const Candidate& c, double tolerance) {
    return decide({c.fit.fitted, c.fit.refusal, c.fit.centre, c.reference, tolerance,
                   !c.fit.flags.empty() || !c.across.empty()});
}

// A measured member: its order and o-c, an anchor of the trend.
struct Anchor {
    double order, frequency, o_c;
};

// The flags that only the whole series can give, for every candidate whose
// fit lies within the tolerance.
void check_across(std::vector<Candidate>& cs, const std::vector<Anchor>& anchors, double tolerance,
                  bool last) {
    const std::size_t n = cs.size();
    std::vector<double> centres(n), widths(n);
    std::vector<bool> usable(n);
    for (std::size_t i = 0; i < n; ++i) {
        cs[i].across.clear();
        usable[i] = within(cs[i], tolerance);
        centres[i] = cs[i].fit.centre;
        widths[i] = cs[i].fit.lobe_width;
    }
    const std::vector<int> shared = shared_lines(centres, widths, usable);
    const std::vector<bool> odd = odd_widths(widths, usable);
    for (std::size_t i = 0; i < n; ++i) {
        if (!usable[i]) continue;
        const bool on_anchor = std::any_of(anchors.begin(), anchors.end(), [&](const Anchor& a) {
            return std::abs(a.frequency - centres[i]) <= 0.5 * widths[i];
        });
        if (shared[i] >= 0 || on_anchor) cs[i].across.push_back(FLAG_BLEND);
        if (odd[i]) cs[i].across.push_back(FLAG_SHAPE);
    }
    // The trend: the members measured before are its anchors; the candidates
    // without other doubts are checked against their neighbours.
    std::vector<double> orders, o_c, errors, lobes;
    std::vector<bool> checked;
    std::vector<std::size_t> of;
    for (const Anchor& a : anchors) {
        orders.push_back(a.order);
        o_c.push_back(a.o_c);
        errors.push_back(0);
        lobes.push_back(0);
        checked.push_back(false);
        of.push_back(n);
    }
    for (std::size_t i = 0; i < n; ++i)
        if (usable[i] && cs[i].fit.flags.empty() && cs[i].across.empty()) {
            orders.push_back(cs[i].order);
            o_c.push_back(cs[i].fit.centre - cs[i].prediction);
            errors.push_back(cs[i].fit.error);
            lobes.push_back(cs[i].fit.lobe_width);
            checked.push_back(true);
            of.push_back(i);
        }
    std::vector<bool> off = off_trend(orders, o_c, errors, lobes, checked);
    // Too few of a longer series to check one against the others: none of
    // them is confirmed by the series. Not before the last round, whose
    // trend the members taken before carry there.
    if (last && orders.size() < 3 && anchors.size() + n >= 3) off = checked;
    for (std::size_t k = 0; k < off.size(); ++k)
        if (off[k]) cs[of[k]].across.push_back(FLAG_TREND);
}

} // namespace

std::vector<MemberFit> fit_series(const Series& series, const std::vector<Catalog>& catalogs,
                                  std::size_t series_catalog, const SpectrumPoints& points,
                                  const SeriesFitSettings& settings,
                                  const std::vector<std::optional<double>>& measured,
                                  const std::vector<bool>& wanted) {
    const Catalog& catalog = catalogs[series_catalog];
    const double mpu = settings.mhz_per_unit;
    const double first = points.x[1], last = points.x[static_cast<std::size_t>(points.npts)];
    std::vector<Anchor> anchors;
    std::vector<Candidate> cs;
    for (std::size_t i = 0; i < series.members.size(); ++i) {
        const PredictedLine& line = catalog.lines()[series.members[i].line];
        const double prediction = line.freq / mpu;
        const double order = series.members[i].order;
        if (measured[i]) {
            anchors.push_back({order, *measured[i], *measured[i] - prediction});
            continue;
        }
        if (prediction < first || prediction > last || line.lgint < settings.threshold ||
            (!wanted.empty() && !wanted[i]))
            continue;
        Candidate c;
        c.member = i;
        c.prediction = prediction;
        c.order = order;
        cs.push_back(std::move(c));
    }
    // The way the series' lines point: the sign of most of the largest
    // excursions near the members' predictions. A line fitted with the other
    // sign is the side lobe of one beside it.
    int votes = 0;
    for (const Candidate& c : cs)
        votes += seek_line(points, c.prediction, settings.tolerance, 0).size > 0 ? 1 : -1;
    const int sign = votes >= 0 ? 1 : -1;
    for (int round = 0; round < std::max(1, settings.rounds); ++round) {
        // The trend of the anchors and of the members taken so far.
        std::vector<double> orders, o_c;
        for (const Anchor& a : anchors) {
            orders.push_back(a.order);
            o_c.push_back(a.o_c);
        }
        for (const Candidate& c : cs)
            if (c.fitted_once && decision_of(c, settings.tolerance).decision == Decision::Take) {
                orders.push_back(c.order);
                o_c.push_back(c.fit.centre - c.prediction);
            }
        const Trend trend = fit_trend(orders, o_c);
        std::vector<std::size_t> due;
        for (std::size_t i = 0; i < cs.size(); ++i) {
            Candidate& c = cs[i];
            if (c.fitted_once && decision_of(c, settings.tolerance).decision == Decision::Take)
                continue;
            const double reference = c.prediction + trend.at(c.order);
            // A reference that moved by less than a quarter of the line's
            // width climbs to the same line again.
            const double still = c.fit.fitted ? 0.25 * c.fit.lobe_width : 0.1 * settings.tolerance;
            if (c.fitted_once && std::abs(reference - c.reference) <= still) continue;
            c.reference = reference;
            c.position = seek_line(points, reference, settings.tolerance, sign).position;
            due.push_back(i);
        }
        if (due.empty()) break;
        // The fits are independent of each other: spread over the threads.
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            for (std::size_t k = next++; k < due.size(); k = next++) {
                Candidate& c = cs[due[k]];
                c.fit = fit_member(series, catalogs, series_catalog, c.member, c.position,
                                   c.reference - c.prediction, points, settings);
                if (c.fit.fitted && c.fit.height * sign < 0) add_flag(c.fit, FLAG_SHAPE);
                c.fitted_once = true;
            }
        };
        const int threads = std::clamp<int>(settings.threads, 1, static_cast<int>(due.size()));
        std::vector<std::thread> pool;
        for (int t = 1; t < threads; ++t)
            pool.emplace_back(work);
        work();
        for (std::thread& t : pool)
            t.join();
        check_across(cs, anchors, settings.tolerance, false);
    }
    check_across(cs, anchors, settings.tolerance, true);
    std::vector<double> centres, widths;
    std::vector<bool> usable;
    for (const Candidate& c : cs) {
        centres.push_back(c.fit.centre);
        widths.push_back(c.fit.lobe_width);
        usable.push_back(within(c, settings.tolerance));
    }
    const std::vector<int> lines = shared_lines(centres, widths, usable);
    std::vector<MemberFit> fits;
    for (std::size_t i = 0; i < cs.size(); ++i) {
        const Candidate& c = cs[i];
        MemberFit f;
        f.member = c.member;
        f.prediction = c.prediction;
        f.reference = c.reference;
        f.fit = c.fit;
        for (const std::string& flag : c.across)
            add_flag(f.fit, flag);
        f.decision = decision_of(c, settings.tolerance);
        f.take = f.decision.decision == Decision::Take;
        f.line = lines[i];
        fits.push_back(std::move(f));
    }
    return fits;
}

SeriesRecords taken_records(const Series& series, const Catalog& catalog,
                            const std::vector<MemberFit>& fits, const RecordSettings& settings) {
    SeriesRecords out;
    std::vector<bool> done(fits.size(), false);
    for (std::size_t i = 0; i < fits.size(); ++i) {
        if (!fits[i].take || done[i]) continue;
        // The members taken on this one line.
        std::vector<std::size_t> group{i};
        if (fits[i].line >= 0)
            for (std::size_t k = i + 1; k < fits.size(); ++k)
                if (fits[k].take && fits[k].line == fits[i].line) group.push_back(k);
        const std::size_t best =
            *std::min_element(group.begin(), group.end(), [&](std::size_t a, std::size_t b) {
                return fits[a].fit.error < fits[b].fit.error;
            });
        const double unc = settings.fixed_unc > 0 ? settings.fixed_unc : fits[best].fit.error;
        if (!(unc > 0)) {
            out.error = "a fit without an error: set a fixed uncertainty";
            return out;
        }
        BlendWeights weights{{settings.weight}, 4};
        if (group.size() > 1) {
            std::vector<double> lgint;
            for (std::size_t k : group)
                lgint.push_back(catalog.lines()[series.members[fits[k].member].line].lgint);
            weights = blend_weights(lgint, settings.equal_weights);
        }
        for (std::size_t g = 0; g < group.size(); ++g) {
            const std::size_t k = group[g];
            done[k] = true;
            const QuantumNumbers q =
                quantum_numbers(catalog.lines()[series.members[fits[k].member].line]);
            auto record = lin_line(q, fits[best].fit.centre, unc, weights.values[g],
                                   settings.comment, settings.unit, weights.decimals);
            if (!record) {
                out.error = "a quantum number does not fit the assignment file's fields";
                return out;
            }
            out.records.push_back(
                {{q, *record}, k, fits[best].fit.centre, unc, weights.values[g], weights.decimals});
        }
    }
    return out;
}

} // namespace korax

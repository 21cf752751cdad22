// The choice of components of the profile fit: the line at the position fitted
// alone, then further components while the data ask for them (a split of an
// unresolved blend, a line the residual shows), unsound ones pruned, or the
// predictions of a catalogue as the components; the public entry points.
#include "analysis/profile_fit.h"

#include "analysis/peak_search.h"
#include "analysis/profile_solve.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

namespace korax {

namespace {

using namespace profile_detail;

Attempt fit_from(const FitContext& ctx, const Problem& pr, std::span<const double> centres,
                 const LineWidths& widths, std::size_t max_iterations = MAX_ITERATIONS) {
    const ProfileModel model(ctx.shape, int(centres.size()), ctx.degree, pr.half);
    Attempt a;
    a.components = int(centres.size());
    a.points = pr.t.size();
    if (pr.t.size() < std::size_t(model.parameter_count()) + 3) {
        a.refusal = FitRefusal::TooFewPoints;
        return a;
    }
    auto start = linear_start(pr, model, ctx.shape, centres, widths, ctx.degree);
    if (!start) {
        a.refusal = FitRefusal::Singular;
        return a;
    }
    a = solve(pr, model, std::move(*start), max_iterations);
    if (!a.refusal) a.refusal = check(ctx, pr, a);
    return a;
}

std::vector<double> centres_of(const Attempt& a) {
    return {a.p.begin(), a.p.begin() + a.components};
}

// The component of the largest amplitude.
std::size_t strongest_of(const Attempt& a) {
    const std::size_t kc = std::size_t(a.components);
    std::size_t strongest = 0;
    for (std::size_t k = 1; k < kc; ++k)
        if (std::abs(a.p[kc + k]) > std::abs(a.p[kc + strongest])) strongest = k;
    return strongest;
}

// Starts for one more component: where the residual shows the largest lobe
// pointing the way the line does, and the strongest component split in two
// (an unresolved blend looks like one line that is a little too wide).
struct Start {
    std::vector<double> centres;
    LineWidths widths;
    bool split = false;
};

std::vector<Start> next_component_starts(const FitContext& ctx, const Problem& pr,
                                         const Attempt& a) {
    const ProfileModel model = model_of(ctx, pr, a);
    const LineWidths widths = model.widths(a.p);
    const double lobe = lobe_width(ctx.shape, widths);
    const std::size_t kc = std::size_t(a.components);
    const std::size_t strongest = strongest_of(a);
    const LineShape& shape = ctx.shape;
    const double unit_height = shape_value(shape, height_offset(shape, widths), widths);
    const double sign = a.p[kc + strongest] * unit_height >= 0 ? 1 : -1;

    std::vector<double> r(pr.t.size());
    model.evaluate(a.p, pr.t, r, {});
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = pr.y[i] - r[i];
    const auto h = std::size_t(std::max(1.0, std::round(lobe / 6)));
    std::size_t best = 0;
    double best_value = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < r.size(); ++i) {
        const std::size_t lo = i >= h ? i - h : 0, hi = std::min(r.size() - 1, i + h);
        double sum = 0;
        for (std::size_t k = lo; k <= hi; ++k)
            sum += r[k];
        const double v = sign * sum / double(hi - lo + 1);
        if (v > best_value) {
            best_value = v;
            best = i;
        }
    }
    std::vector<Start> starts;
    std::vector<double> added = centres_of(a);
    added.push_back(pr.t[best] - height_offset(shape, widths));
    starts.push_back({std::move(added), widths, false});

    // Two equal lines one lobe width apart fit as one that is 1.25 (Gaussian)
    // to 1.4 (Lorentzian) times as wide; the halves start narrower by about that.
    for (double apart : {0.3, 0.4})
        for (double narrower : {0.7, 0.85}) {
            std::vector<double> split = centres_of(a);
            const double c = split[strongest];
            split[strongest] = c - apart * lobe;
            split.push_back(c + apart * lobe);
            starts.push_back(
                {std::move(split), {widths.gauss * narrower, widths.lorentz * narrower}, true});
        }
    return starts;
}

// A further component is kept when it lowers the sum of squares by more than
// DELTA_CHI_SQUARE residual variances. Measured on synthetic lines of the
// right profile (bench/profile_fit_bench): the best split of a single line
// gained at most 19 in 1800 lines, two equal lines one lobe width apart at
// signal to noise 30 at least 20 in 600, most of them far more.
constexpr double DELTA_CHI_SQUARE = 20;

// Whether `more` removes at least a third of what `a` leaves above the noise.
// A second line is the cause of a misfit only if it removes much of it: one
// that fits a little of a large misfit (an unlucky noise, a wrong profile) is
// a ghost. In the benchmark's blends that came near DELTA_CHI_SQUARE the
// second line removed 60 to 80 % of it.
bool explains_misfit(const Problem& pr, const Attempt& a, const Attempt& more) {
    if (!(pr.noise > 0)) return true;
    const double noise2 = pr.noise * pr.noise;
    const double excess = a.rss / noise2 - double(a.points - a.p.size());
    return excess <= 0 || (a.rss - more.rss) / noise2 >= excess / 3;
}

bool leaves_more_than_noise(const Problem& pr, const Attempt& a) {
    return !(pr.noise > 0) || a.rss > pr.noise * pr.noise * double(a.points - a.p.size());
}

// The component a blend is better without: one pointing the other way than the
// strongest, one whose height is below five of its errors (the cutoff of the
// scan that finds resolved lines), or the weaker of two closer than a quarter
// of a lobe width; the least significant of these first.
std::optional<std::size_t> unsound_component(const FitContext& ctx, const Problem& pr,
                                             const Attempt& a) {
    if (a.components < 2) return std::nullopt;
    const ProfileModel model = model_of(ctx, pr, a);
    const double lobe = lobe_of(ctx, model, a);
    const std::size_t kc = std::size_t(a.components);
    std::vector<double> significance(kc);
    const std::size_t strongest = strongest_of(a);
    for (std::size_t k = 0; k < kc; ++k) {
        const Height h = height_of(ctx, model, a, int(k));
        significance[k] = std::abs(h.value) / std::sqrt(h.variance * a.variance());
    }
    std::optional<std::size_t> worst;
    auto consider = [&](std::size_t k) {
        if (!worst || significance[k] < significance[*worst]) worst = k;
    };
    for (std::size_t k = 0; k < kc; ++k) {
        if ((a.p[kc + k] > 0) != (a.p[kc + strongest] > 0) || !(significance[k] >= 5)) consider(k);
        for (std::size_t l = k + 1; l < kc; ++l) {
            // Two centres closer than three errors of their distance are one
            // line as far as the points can tell.
            const std::size_t np = a.p.size();
            const double apart =
                a.variance() * (a.covariance[k * np + k] + a.covariance[l * np + l] -
                                2 * a.covariance[k * np + l]);
            const double distance = std::abs(a.p[k] - a.p[l]);
            if (distance < 0.25 * lobe || !(distance >= 3 * std::sqrt(std::max(apart, 0.0))))
                consider(significance[k] < significance[l] ? k : l);
        }
    }
    return worst;
}

// How strongly the residual of `a` asks for a split of its strongest line:
// splitting a line into two close ones changes the model, to second and
// third order in their distance, along the second and third derivatives of
// the profile by its centre. The sum of squares of the residual along those
// two directions (made orthogonal to the fit's own Jacobian), over the
// residual variance, is a score test: chi-square with 2 degrees of freedom for
// a single line. Far cheaper than the trial fit it saves.
double split_signal(const FitContext& ctx, const Problem& pr, const Attempt& a) {
    const ProfileModel model = model_of(ctx, pr, a);
    const std::size_t n = pr.t.size(), np = a.p.size(), kc = std::size_t(a.components);
    if (n < np + 5) return std::numeric_limits<double>::infinity();
    const std::size_t strongest = strongest_of(a);
    const LineWidths widths = model.widths(a.p);
    const double centre = a.p[strongest], amplitude = a.p[kc + strongest];
    constexpr double H = 0.02; // points
    // Kept per thread: every line of a scan asks this at least once.
    thread_local std::vector<double> values, rows, columns, r, u[3];
    thread_local std::vector<ShapePoint> s[3];
    values.resize(n);
    rows.resize(n * np);
    columns.resize(n * (np + 2));
    r.resize(n);
    model.evaluate(a.p, pr.t, values, rows);
    for (int d = 0; d < 3; ++d) {
        u[d].resize(n);
        s[d].resize(n);
        for (std::size_t i = 0; i < n; ++i)
            u[d][i] = pr.t[i] - centre + (d - 1) * H;
        shape_points(ctx.shape, u[d], widths, s[d]);
    }
    double rss = 0;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < np; ++j)
            columns[j * n + i] = rows[i * np + j];
        const double below = s[0][i].d_centre, at = s[1][i].d_centre, above = s[2][i].d_centre;
        columns[np * n + i] = amplitude * (above - below) / (2 * H);
        columns[(np + 1) * n + i] = amplitude * (above - 2 * at + below) / (H * H);
        r[i] = pr.y[i] - values[i];
        rss += r[i] * r[i];
    }
    const auto left = qr_least_squares(columns, n, np + 2, r);
    if (!left || !std::isfinite(rss - *left)) return std::numeric_limits<double>::infinity();
    return (rss - *left) / a.variance();
}

// A single line passes about one time in five (chi-square with 2 degrees of
// freedom beyond 3). At 4.6, one in ten, 1.5 % of the benchmark's narrowest
// Voigt blends were missed; at 3 none of its blends are.
constexpr double SPLIT_SIGNAL = 3.0;
// Beyond this (one single line in a thousand) a line left single is flagged
// as a blend the fit could not resolve.
constexpr double UNRESOLVED_SIGNAL = 13.8;

// The same lines with both widths of a Voigt free: what the data ask of the
// shape alone. A Gaussian line under a Lorentzian profile (or the reverse)
// leaves a symmetric misfit that a split of the line into two narrower ones
// also takes away; the split stands for a resolved line only if it beats this.
FitContext free_shape_of(const FitContext& ctx) {
    return {{LineProfile::Voigt, ctx.shape.derivative}, ctx.degree};
}

// A Voigt whose linearised steps from a single line's fit gain less than this
// share of DELTA_CHI_SQUARE is not fitted: on the campaign's spectra and the
// shape mismatches of the robustness table the steps found 0.87 to 3 times
// what the fit then gained near the threshold, and half of what it must gain
// to count never turned into a significant Voigt (nor into one that came near
// a further line).
constexpr double SHAPE_GAIN_SHARE = 0.5;

// The fit with the shape free, or nullopt when the data do not ask for it:
// when `only_if_better`, also when the linearised steps from a single line show
// it cannot be significantly better than `a` (a Voigt costs several fits of the
// profile it stands in for, and most lines of the profile asked for gain nothing).
std::optional<Attempt> free_shape_fit(const FitContext& ctx, const Problem& pr, const Attempt& a,
                                      bool only_if_better = true) {
    if (ctx.shape.profile == LineProfile::Voigt) return std::nullopt;
    // Of a blend the steps tell too little: one of two lines sharing their
    // widths gained 25 times what its steps showed.
    if (only_if_better && a.components == 1) {
        const double enough = SHAPE_GAIN_SHARE * DELTA_CHI_SQUARE;
        const auto gain = shape_gain(ctx, pr, a, enough);
        const double freedom = double(a.points - a.p.size() - 1);
        if (gain && *gain * freedom < enough * (a.rss - *gain)) return std::nullopt;
    }
    const ProfileModel model = model_of(ctx, pr, a);
    const FitContext free = free_shape_of(ctx);
    Attempt ref = fit_from(free, pr, centres_of(a),
                           widths_for_lobe(free.shape, lobe_of(ctx, model, a)), TRIAL_ITERATIONS);
    if (ref.refusal) return std::nullopt;
    return ref;
}

// The same lines each with its own widths, from the fit with shared ones:
// lines of a blend are seldom of one width, and shared widths pull the
// centres of unequal ones apart or together.
std::optional<Attempt> free_widths_fit(const FitContext& ctx, const Problem& pr, const Attempt& a,
                                       std::size_t max_iterations = MAX_ITERATIONS) {
    if (a.components < 2 || a.free) return std::nullopt;
    const ProfileModel shared = model_of(ctx, pr, a);
    const ProfileModel free(ctx.shape, a.components, ctx.degree, pr.half, true);
    if (pr.t.size() < std::size_t(free.parameter_count()) + 3) return std::nullopt;
    std::vector<double> start(std::size_t(free.parameter_count()));
    const std::size_t kc = std::size_t(a.components), w = std::size_t(shared.width_count());
    std::copy_n(a.p.begin(), 2 * kc, start.begin());
    for (std::size_t k = 0; k < kc; ++k)
        std::copy_n(a.p.begin() + std::ptrdiff_t(2 * kc), w,
                    start.begin() + std::ptrdiff_t(free.width_at(int(k))));
    std::copy(a.p.end() - ctx.degree - 1, a.p.end(), start.end() - ctx.degree - 1);
    Attempt b = solve(pr, free, std::move(start), max_iterations);
    if (!b.refusal) b.refusal = check(ctx, pr, b);
    if (b.refusal) return std::nullopt;
    return b;
}

// Whether `better` fits significantly better than `a` for what it costs.
bool significantly_better(const Attempt& a, const Attempt& better) {
    return a.rss - better.rss > DELTA_CHI_SQUARE * better.variance();
}

// Whether a blend's widths are better free: when that lowers the sum of
// squares by more than FREE_WIDTHS_CHI_SQUARE residual variances for each
// line beyond the first. Free widths cost precision where the lines are
// close, and there the test is not the textbook one (the widths trade with
// the centres): at 10, a third of the benchmark's blends of equal Voigt lines
// one lobe width apart went free and scattered 2 to 3 times as much, with
// errors half the scatter; at 20 none did, while lines of widths in a ratio
// of 1.5 two lobe widths apart still get their own.
constexpr double FREE_WIDTHS_CHI_SQUARE = 20;

// Nor where no two lines are FREE_WIDTHS_APART lobe widths apart: closer,
// the widths trade with the centres, the test is not the textbook one, and a
// fifth of the benchmark's blends of two equal Gaussian lines of 5 points one
// lobe width apart passed it with errors half their scatter.
constexpr double FREE_WIDTHS_APART = 1.5;

bool widths_better_free(const FitContext& ctx, const Problem& pr, const Attempt& shared,
                        const Attempt& free) {
    if (!(shared.rss - free.rss >
          FREE_WIDTHS_CHI_SQUARE * (shared.components - 1) * free.variance()))
        return false;
    const double lobe = lobe_of(ctx, model_of(ctx, pr, shared), shared);
    for (int k = 0; k < shared.components; ++k)
        for (int l = k + 1; l < shared.components; ++l)
            if (std::abs(shared.p[std::size_t(k)] - shared.p[std::size_t(l)]) >=
                FREE_WIDTHS_APART * lobe)
                return true;
    return false;
}

// The blend `a` of three or more lines against the same without its weakest
// line, each line with its own widths: the fewer lines unless the further one
// fits significantly better.
Attempt fewer_with_free_widths(const FitContext& ctx, const Problem& pr, Attempt a) {
    while (a.components >= 3) {
        const ProfileModel model = model_of(ctx, pr, a);
        const std::size_t kc = std::size_t(a.components);
        std::size_t weakest = 0;
        for (std::size_t k = 1; k < kc; ++k)
            if (std::abs(a.p[kc + k]) < std::abs(a.p[kc + weakest])) weakest = k;
        std::vector<double> centres = centres_of(a);
        centres.erase(centres.begin() + std::ptrdiff_t(weakest));
        Attempt fewer = fit_from(ctx, pr, centres, model.widths(a.p));
        if (fewer.refusal) break;
        const auto free = free_widths_fit(ctx, pr, fewer);
        if (!free || significantly_better(*free, a)) break;
        a = std::move(*free);
    }
    return a;
}

// Drops unsound components one at a time, refitting after each.
Attempt prune(const FitContext& ctx, const Problem& pr, Attempt a) {
    while (const auto k = unsound_component(ctx, pr, a)) {
        const ProfileModel model = model_of(ctx, pr, a);
        std::vector<double> centres = centres_of(a);
        centres.erase(centres.begin() + std::ptrdiff_t(*k));
        Attempt fewer = fit_from(ctx, pr, centres, model.widths(a.p));
        if (fewer.refusal) break;
        a = std::move(fewer);
    }
    return a;
}

// Adds components to `a` one at a time: until `wanted` when it is given,
// otherwise while each lowers the sum of squares significantly and stays sound.
Attempt add_components(const FitContext& ctx, const Problem& pr, Attempt a, int wanted,
                       const LineWidths& estimated, bool* mismatch = nullptr,
                       bool* contested = nullptr) {
    const bool forced = wanted > 0;
    const int limit = forced ? wanted : MAX_COMPONENTS;
    // Each round lowers the sum of squares by a finite amount; the bound only
    // keeps a pathological window from trying for long.
    for (int round = 0; a.components < limit && round < 2 * MAX_COMPONENTS; ++round) {
        // A fit that leaves no more than the noise would asks for nothing
        // more; a line elsewhere in the window that stands out of the noise
        // is what residual_lines then finds.
        if (!forced && !leaves_more_than_noise(pr, a)) break;
        // A line elsewhere in the window shows with its centre and the widths
        // held, where only the amplitudes are fitted (a linear problem): it
        // goes on to the whole fit only if it already wins a quarter of what
        // is asked. A split cannot be judged so (its halves must move and
        // narrow to fit), so the best of the splits always goes on.
        auto starts = next_component_starts(ctx, pr, a);
        // The widths fitted to one line are pulled by a neighbour it does not
        // know of; the line's half-height widths are not, so a further line
        // also starts from those.
        const std::size_t plain = starts.size();
        for (std::size_t k = 0; k < plain; ++k)
            if (!starts[k].split) starts.push_back({starts[k].centres, estimated, false});
        std::vector<const Start*> tried;
        const Start* best_split = nullptr;
        double best_split_rss = std::numeric_limits<double>::infinity();
        // Nor is a split worth trying when the fit leaves less than the noise
        // alone would, or nothing of what a split would take away.
        const bool split =
            forced || (leaves_more_than_noise(pr, a) && split_signal(ctx, pr, a) > SPLIT_SIGNAL);
        for (const auto& start : starts) {
            if (start.split && !split) continue;
            const ProfileModel more(ctx.shape, int(start.centres.size()), ctx.degree, pr.half);
            double rss = 0;
            if (!linear_start(pr, more, ctx.shape, start.centres, start.widths, ctx.degree, &rss))
                continue;
            if (!start.split) {
                if (forced || a.rss - rss > DELTA_CHI_SQUARE / 4 * a.variance())
                    tried.push_back(&start);
            } else if (rss < best_split_rss) {
                best_split_rss = rss;
                best_split = &start;
            }
        }
        if (best_split) tried.push_back(best_split);
        // What a further line must beat: the fit as it is, or, when freeing
        // the shape explains the misfit, the fit with the shape free.
        // Lines of different widths sharing theirs misfit as well: a further
        // line must beat the fit with free widths too.
        // Both are fitted only once a trial beats the fit as it is: most
        // trials do not, and a Voigt costs several of the profile it stands in for.
        const Attempt* base = &a;
        std::optional<Attempt> free, free_widths;
        bool bases = false;
        auto find_base = [&] {
            if (bases) return;
            bases = true;
            if (split) {
                free = free_shape_fit(ctx, pr, a);
                if (free && significantly_better(a, *free)) base = &*free;
            }
            if (a.components >= 2) {
                free_widths = free_widths_fit(ctx, pr, a, TRIAL_ITERATIONS);
                if (free_widths && significantly_better(*base, *free_widths)) base = &*free_widths;
            }
        };
        // A blend that is resolved widens a single line too; only when no
        // further line stands is the shape to blame.
        auto stop = [&] {
            if (mismatch && free && base == &*free) *mismatch = true;
        };
        std::optional<Attempt> best;
        for (const Start* start : tried) {
            Attempt trial = fit_from(ctx, pr, start->centres, start->widths,
                                     forced ? MAX_ITERATIONS : TRIAL_ITERATIONS);
            if (trial.refusal) continue;
            if (!forced) {
                if (!significantly_better(a, trial)) continue;
                find_base();
                if (!(base->rss - trial.rss > DELTA_CHI_SQUARE * trial.variance())) continue;
                trial = prune(ctx, pr, std::move(trial));
            }
            if (!best || trial.rss < best->rss) best = std::move(trial);
        }
        if (!best) {
            stop();
            break;
        }
        // A trial may come back with no more components than before once its
        // unsound ones are gone, and still fit much better: then it replaces
        // them, and the search goes on from there.
        if (!forced && !(best->components >= a.components &&
                         (base->rss - best->rss) > DELTA_CHI_SQUARE * best->variance() &&
                         explains_misfit(pr, *base, *best))) {
            stop();
            break;
        }
        // A further line that the shape set free comes near, even where that
        // is no significant gain of its own, may be the shape's doing: at a
        // signal to noise of 12 to 15 a Voigt line under a Lorentzian profile
        // gains 10 to 20 residual variances with its shape free and 20 to 36
        // split in two lines, two points either side of its centre, while
        // two true Lorentzian lines 0.7 lobe widths apart come out the same.
        if (contested && free && !(free->rss - best->rss > DELTA_CHI_SQUARE * best->variance()))
            *contested = true;
        a = std::move(*best);
    }
    return a;
}

// Further lines in the window: PEAKFINDER's test on what the fitted line
// leaves (so that neither the baseline's slope nor the line's own lobes look
// like lines), with a cutoff of five times the noise. Their centres, in the
// problem's units, strongest first; none within 3/4 of a lobe width of a
// centre already taken.
std::vector<double> residual_lines(const FitContext& ctx, const Problem& pr, const Attempt& a) {
    const ProfileModel model = model_of(ctx, pr, a);
    const LineWidths widths = model.widths(a.p);
    const double lobe = lobe_width(ctx.shape, widths);
    const double offset = height_offset(ctx.shape, widths);
    const std::size_t kc = std::size_t(a.components);
    const double sign = a.p[kc] * shape_value(ctx.shape, offset, widths) >= 0 ? 1.0 : -1.0;
    std::vector<double> values(pr.t.size());
    model.evaluate(a.p, pr.t, values, {});
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = sign * (pr.y[i] - values[i]);
    const auto q = std::size_t(std::max(1.0, std::round(lobe / 4)));
    std::vector<double> taken = centres_of(a), found;
    // On noiseless data the cutoff keeps rounding from looking like lines.
    const double cutoff = std::max(5 * pr.noise, 1e-6);
    for (std::size_t place : candidate_places(values, q, cutoff)) {
        const double centre = pr.t[place] - offset;
        if (std::any_of(taken.begin(), taken.end(),
                        [&](double t) { return std::abs(t - centre) < 0.75 * lobe; }))
            continue;
        taken.push_back(centre);
        found.push_back(centre);
    }
    return found;
}

template <class T>
FitOutcome fit_at(std::span<const double> x, std::span<const T> y, std::int32_t npts,
                  double position, const ProfileFitSettings& settings,
                  std::span<const double> predicted) {
    assert(settings.baseline_degree >= 0 && settings.baseline_degree <= 2);
    assert(settings.components >= 0 && settings.components <= MAX_COMPONENTS);
    assert(settings.shape.derivative >= 0 && settings.shape.derivative <= 2);
    assert(settings.window_widths > 0);
    if (npts < 5) return FitRefusal::TooFewPoints;
    const FitContext ctx{settings.shape, settings.baseline_degree};
    const auto line = estimate_line(x, y, npts, nearest_point(x, npts, position),
                                    settings.shape.derivative, settings.read);
    // A lobe narrower than anything the points can show is no line either.
    if (!line || !(line->width > 0)) return FitRefusal::NoLine;
    // Measured from the lower of the levels the estimate looked at: on a bent
    // baseline the higher one may hide most of a weak line.
    const double shows = std::abs(line->height) + line->level_spread;
    if (shows < settings.least_height || shows < settings.least_noise_units * line->noise ||
        std::abs(line->centre - position) > settings.farthest_lobe * line->width ||
        (settings.lobe_sign != 0 && line->sign != settings.lobe_sign))
        return FitRefusal::NoLine;
    const double reach = settings.window_widths * line->width;
    const std::size_t limit =
        settings.components > 0 ? std::size_t(settings.components) : std::size_t(MAX_COMPONENTS);

    // The window that holds the lobes of every line in `centres` (frequencies).
    // A window cut by an end of the spectrum is fitted as far as it goes.
    bool cut = false;
    auto problem_for = [&](std::span<const double> centres) -> std::optional<Problem> {
        const auto [low, high] = std::minmax_element(centres.begin(), centres.end());
        const PointRange window = points_between(x, npts, *low - reach, *high + reach);
        const bool cut_here = *low - reach < x[1] || *high + reach > x[std::size_t(npts)];
        cut = cut || cut_here;
        if (window.count() < 5) return std::nullopt;
        if (settings.read) widen(*settings.read, window.first, window.last);
        Problem p = make_problem(x, y, window, *line, settings.data_low, settings.data_high);
        p.cut = cut_here;
        return p;
    };
    // A refusal of a line whose window is cut says so: the end is the cause
    // (too few points say that themselves).
    auto refused = [&](FitRefusal why) -> FitOutcome {
        return cut && why != FitRefusal::TooFewPoints ? FitRefusal::AtEnd : why;
    };
    auto in_units = [](const Problem& pr, std::vector<double> centres) {
        for (double& c : centres)
            c = (c - pr.origin) / pr.step;
        return centres;
    };
    auto widths_in = [](const Problem& pr, LineWidths w, double from_step) {
        return LineWidths{w.gauss * from_step / pr.step, w.lorentz * from_step / pr.step};
    };

    if (!predicted.empty()) {
        // The predictions inside the window are the components, nearest first,
        // with the line at the position unless one of them is near it.
        const auto a = std::lower_bound(predicted.begin(), predicted.end(), line->centre - reach);
        const auto b = std::upper_bound(a, predicted.end(), line->centre + reach);
        std::vector<double> centres(a, b);
        std::sort(centres.begin(), centres.end(), [&](double l, double r) {
            return std::abs(l - line->centre) < std::abs(r - line->centre);
        });
        if (centres.empty() || std::abs(centres.front() - line->centre) > 0.5 * line->width)
            centres.insert(centres.begin(), line->centre);
        if (centres.size() > limit) centres.resize(limit);
        const auto pr = problem_for(centres);
        if (!pr) return refused(FitRefusal::TooFewPoints);
        const Attempt fit = fit_from(ctx, *pr, in_units(*pr, centres),
                                     widths_for_lobe(settings.shape, line->width / pr->step));
        if (fit.refusal) return refused(*fit.refusal);
        if (const auto free = free_widths_fit(ctx, *pr, fit))
            if (settings.free_widths || widths_better_free(ctx, *pr, fit, *free))
                return result_of(ctx, *pr, *free, x);
        return result_of(ctx, *pr, fit, x);
    }

    const double main_centre = line->centre;
    auto pr = problem_for(std::span(&main_centre, 1));
    if (!pr) return refused(FitRefusal::TooFewPoints);
    Attempt fit = fit_from(ctx, *pr, in_units(*pr, {main_centre}),
                           widths_for_lobe(settings.shape, line->width / pr->step));
    if (fit.refusal) return refused(*fit.refusal);

    const bool automatic = settings.components == 0;
    Verdicts verdicts;
    // An unresolved blend first: the residual of a blend fitted as one line
    // shows lobes beside it that the scan below would take for lines.
    const LineWidths estimated = widths_for_lobe(settings.shape, line->width / pr->step);
    if (automatic)
        fit = add_components(ctx, *pr, std::move(fit), 0, estimated, &verdicts.shape,
                             &verdicts.contested);
    if (std::size_t(fit.components) < limit) {
        // Where the shape is to blame, the misfit it leaves is no line: the
        // further lines are those the fit with the shape free leaves.
        // Asked only when the residual shows something (a Voigt costs several
        // fits of the profile it stands in for).
        std::vector<double> others = residual_lines(ctx, *pr, fit);
        if (!others.empty() && automatic) {
            const auto free = free_shape_fit(ctx, *pr, fit, !verdicts.shape);
            if (free && (verdicts.shape || significantly_better(fit, *free))) {
                verdicts.shape = true;
                others = residual_lines(free_shape_of(ctx), *pr, *free);
            }
        }
        if (others.size() > limit - std::size_t(fit.components))
            others.resize(limit - std::size_t(fit.components));
        if (!others.empty()) {
            const ProfileModel model = model_of(ctx, *pr, fit);
            const LineWidths widths = model.widths(fit.p);
            std::vector<double> centres;
            for (int k = 0; k < fit.components; ++k)
                centres.push_back(pr->origin + pr->step * fit.p[std::size_t(k)]);
            for (double t : others)
                centres.push_back(pr->origin + pr->step * t);
            // A weak candidate can take the fit astray: the weakest go first.
            for (; centres.size() > std::size_t(fit.components); centres.pop_back()) {
                auto wider = problem_for(centres);
                if (!wider) continue;
                // The widths fitted to the line alone are pulled by its
                // neighbours; those of its half-height crossings are not, and
                // the better of the two starts is kept.
                std::optional<Attempt> blend;
                for (const LineWidths& w :
                     {widths_in(*wider, widths, pr->step),
                      widths_for_lobe(settings.shape, line->width / wider->step)}) {
                    Attempt trial = fit_from(ctx, *wider, in_units(*wider, centres), w);
                    if (!trial.refusal && (!blend || trial.rss < blend->rss))
                        blend = std::move(trial);
                }
                if (!blend) continue;
                fit = automatic ? prune(ctx, *wider, std::move(*blend)) : std::move(*blend);
                pr = std::move(wider);
                break;
            }
        }
    }
    // A requested count that cannot be reached leaves the components that could
    // be fitted; the result says how many.
    if (fit.components < settings.components)
        fit = add_components(ctx, *pr, std::move(fit), settings.components,
                             widths_for_lobe(settings.shape, line->width / pr->step));
    // A blend's lines with their own widths when asked, or when the data ask.
    if (const auto free = free_widths_fit(ctx, *pr, fit))
        if (settings.free_widths || widths_better_free(ctx, *pr, fit, *free))
            fit = std::move(*free);
    // Shared widths make a wider line of a blend into two narrower ones: a
    // further line stands only if it beats the blend without it, each line
    // with its own widths.
    if (automatic) fit = fewer_with_free_widths(ctx, *pr, std::move(fit));
    // A single line whose residual still asks for a split: an unresolved
    // blend, unless freeing the shape explains it.
    if (fit.components == 1 && !verdicts.shape && leaves_more_than_noise(*pr, fit) &&
        split_signal(ctx, *pr, fit) > UNRESOLVED_SIGNAL) {
        const auto free = free_shape_fit(ctx, *pr, fit);
        if (free && fit.rss - free->rss > DELTA_CHI_SQUARE * free->variance())
            verdicts.shape = true;
        else
            verdicts.unresolved = true;
    }
    return result_of(ctx, *pr, fit, x, verdicts);
}

} // namespace

FitOutcome fit_profile(std::span<const double> x, std::span<const std::int32_t> y,
                       std::int32_t npts, double position, const ProfileFitSettings& settings,
                       std::span<const double> predicted) {
    return fit_at(x, y, npts, position, settings, predicted);
}

FitOutcome fit_profile(std::span<const double> x, std::span<const double> y, std::int32_t npts,
                       double position, const ProfileFitSettings& settings,
                       std::span<const double> predicted) {
    return fit_at(x, y, npts, position, settings, predicted);
}

} // namespace korax

// The viewer's N and B keys, its entry levels and PEAKFINDER, over a spectrum
// of the batch commands. The passes and the search are the analysis library's
// own, the same the viewer runs.
#include "batch/processing.h"

#include "analysis/intensity_levels.h"
#include "analysis/line_window.h"
#include "analysis/lineshape.h"
#include "analysis/smooth.h"
#include "analysis/smoothing_passes.h"
#include "base/format.h"
#include "batch/median.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace korax {

namespace {

// The viewer's levels at entry for the spectrum as it stands.
struct EntryLevels {
    double ylow = 0, yhigh = 0, yref = 0, ymean = 0;
};

EntryLevels enter_viewer(const Spectrum& sp) {
    EntryLevels v;
    const EntryLimits limits = entry_limits(sp.iymin, sp.iymax);
    v.ylow = limits.YLOW;
    v.yhigh = limits.YHIGH;
    v.yref = limits.YREF;
    double sum = 0;
    for (std::int32_t i = 1; i <= sp.npts; ++i)
        sum += sp.intens[std::size_t(i)];
    v.ymean = sum / sp.npts;
    return v;
}

bool stopped(const std::atomic<bool>* stop) {
    return stop && stop->load(std::memory_order_relaxed);
}

} // namespace

std::optional<ProcessedLevels> process_spectrum(Spectrum& sp, const PeaksSettings& st,
                                                const std::atomic<bool>* stop) {
    const std::int32_t n = sp.npts;
    const int threads = std::max(1, st.threads);
    // Kept per thread from one spectrum of a campaign to the next.
    thread_local std::vector<std::int32_t> work, original, baslin;
    work.assign(sp.intens.size(), 0);
    std::vector<std::int32_t> unsmoothed;
    if (st.smooth > 0) {
        if (st.profile) unsmoothed = sp.intens;
        smooth_once(sp.intens, work, n, SmoothingFilter(smoothing_window(1, false, st.smooth)),
                    threads);
    }
    // A fresh look: ORIGNL is the spectrum as it now stands.
    EntryLevels v = enter_viewer(sp);
    if (st.baseline == 0) return ProcessedLevels{v.ymean, v.yhigh, std::move(unsmoothed)};

    const BeforePass go_on = [stop](int) { return !stopped(stop); };
    original.assign(sp.intens.begin(), sp.intens.end());
    const std::int32_t nsmoot = std::abs(st.baseline);
    bool done;
    if (st.baseline < 0) {
        // The preliminary baseline, then the final passes over the spectrum
        // clipped into the band around it.
        baslin.assign(sp.intens.size(), 0);
        done =
            preliminary_baseline(sp.intens, work, baslin, n,
                                 SmoothingFilter(smoothing_window(2, true, nsmoot)), threads,
                                 go_on) &&
            clipped_baseline(sp.intens, work, baslin, n, st.clip_lo, st.clip_hi,
                             SmoothingFilter(smoothing_window(3, false, nsmoot)), threads, go_on);
    } else {
        done = baseline_passes(sp.intens, work, n,
                               SmoothingFilter(smoothing_window(2, false, nsmoot)), threads, go_on);
    }
    if (!done || stopped(stop)) return std::nullopt;
    // INTENS = ORIGNL - baseline, then lifted to the reference level with the
    // mean taken anew, as after the B key's ENTER.
    subtract_baseline(original, sp.intens, work, n);
    const double ymean = lift_to_reference(sp.intens, n, v.yref);
    sp.intens[std::size_t(n) + 1] = sp.intens[std::size_t(n)];
    // What came off the smoothed points, baseline and lift, comes off the
    // unsmoothed ones too, so that the fit's heights stand on the same level.
    for (std::size_t i = 0; i < unsmoothed.size(); ++i)
        unsmoothed[i] += sp.intens[i] - original[i];
    return ProcessedLevels{ymean, v.yhigh, std::move(unsmoothed)};
}

namespace {

constexpr double TENTATIVE_SIGMAS = 5;
// Of the height a tentative place must reach, what its lobe must show before
// it is fitted.
constexpr double TENTATIVE_SHOWS = 0.5;
// How many of its widths a tentative place's lobe may lie from the place.
constexpr double TENTATIVE_FARTHEST = 2;

// Frequency ranges, asked whether one holds a frequency: a spectrum of tens of
// thousands of strong lines asks as often, so by their starts in order.
class Ranges {
  public:
    void add(double low, double high) {
        if (high < low) std::swap(low, high);
        m_ranges.emplace(low, high);
        m_longest = std::max(m_longest, high - low);
    }
    bool holds(double f) const {
        for (auto it = m_ranges.lower_bound(f - m_longest); it != m_ranges.end() && it->first <= f;
             ++it)
            if (f <= it->second) return true;
        return false;
    }

  private:
    std::multimap<double, double> m_ranges;
    double m_longest = 0;
};
// Lines whose wings are taken off the points beside them: clipped ones, and
// those this many noise deviations high, whose wings a few dozen lobe widths
// away are still several deviations deep; and how far from the centre, in
// lobe widths.
constexpr double WING_SIGMAS = 500;
constexpr double WING_LOBES = 40;

// The scan's sign: down for dips, asked for or (for an undifferentiated
// profile, the only one whose lines all point one way) found where more lines
// stand out below the level than above it. Odd derivatives have a lobe each
// way whatever their phase, and the upward one is looked for.
int line_sign(const Spectrum& sp, std::span<const double> level, std::int32_t q, double height,
              const PeaksSettings& st) {
    if (st.dips) return -1;
    if (st.profile->shape.derivative != 0) return 1;
    const auto up = local_candidates(sp.intens, sp.npts, level, q, height, 1).size();
    const auto down = local_candidates(sp.intens, sp.npts, level, q, height, -1).size();
    return down > up ? -1 : 1;
}

} // namespace

double noise_deviation(std::span<const std::int32_t> y, std::int32_t n, std::int32_t smoothed_by) {
    if (n < 5) return 0;
    std::array<float, 5> coef{};
    smoothing_coefficients(2, coef);
    // Kept per thread from one spectrum of a campaign to the next.
    thread_local std::vector<double> residuals;
    residuals.resize(std::size_t(n));
    const auto residual = [&](std::int32_t i, auto at) {
        double s = 0;
        for (int k = -2; k <= 2; ++k)
            s += double(y[std::size_t(at(i + k))]) * coef[std::size_t(k + 2)];
        residuals[std::size_t(i - 1)] = double(y[std::size_t(i)]) - s;
    };
    const auto mirrored = [n](std::int32_t j) { return mirror_index(j, n); };
    const auto inside = [](std::int32_t j) { return j; };
    for (std::int32_t i = 1; i <= n; ++i)
        if (i <= 2 || i >= n - 1)
            residual(i, mirrored);
        else
            residual(i, inside);
    const double centre = median(residuals);
    for (double& x : residuals)
        x = std::fabs(x - centre);
    const double mad = median(residuals);
    double sigma = 1.4826 * mad / std::sqrt(1.0 - double(coef[2]));
    if (smoothed_by > 0) {
        std::array<float, 501> table{};
        const SmoothingWindow w = smoothing_window(1, false, smoothed_by);
        smoothing_coefficients(w.m, table);
        sigma *= std::sqrt(double(table[std::size_t(w.m)]));
    }
    return sigma;
}

PeakResults find_peaks(const Spectrum& sp, const ProcessedLevels& levels, const PeaksSettings& st,
                       std::optional<double> noise, const RefineControl& control) {
    PeakResults res;
    res.level = st.level ? *st.level : to_level(levels.ymean);
    // Intensities are whole counts: whatever the spread of the points, they
    // carry at least the rounding's noise, and a cutoff below it takes every
    // step of one count for a line.
    if (noise) noise = std::max(*noise, QUANTISATION_NOISE);
    if (st.cutoff) {
        res.cutoff = *st.cutoff;
    } else {
        res.noise = noise;
        res.cutoff = to_level(res.level + st.cutoff_sigma.value_or(0) * noise.value_or(0));
    }
    PeakSearchSettings search;
    search.start = 1;
    search.end = sp.npts;
    search.cutoff = res.cutoff;
    search.baseline = res.level;
    search.nfit = st.nfit;
    search.height = levels.yhigh - levels.ymean;
    search.threads = st.threads;
    res.text = results_head(sp.name, res.cutoff, res.level, st.nfit);
    if (!st.profile) {
        res.totals = search_lines(sp.freq, sp.intens, sp.npts, search, res.text, {}, &res.lines);
        res.text += results_summary(res.totals);
        return res;
    }
    // The lines stand out of their own surroundings: a baseline that bends
    // by more than the lines are high neither hides the lines where it sags
    // nor makes lines of its noise where it rises. The cutoff is the height
    // PEAKFINDER asks of a top above the level, not rounded to a count.
    const double height = st.cutoff ? double(res.cutoff) - res.level
                                    : st.cutoff_sigma.value_or(0) * noise.value_or(0);
    const std::vector<double> level = local_level(
        sp.intens, sp.npts, std::max<std::int32_t>(LEVEL_BLOCK_MIN, 16 * st.nfit), height);
    const std::int32_t q = std::max(1, st.nfit / 4);
    const int sign = line_sign(sp, level, q, height, st);
    // PEAKFINDER's own candidates (upward lines only): a refusal is reported
    // for those, as it always was; a place only the local level shows is
    // tentative.
    std::vector<double> classic;
    if (sign > 0) {
        std::string unused;
        std::vector<FoundLine> found;
        search_lines(sp.freq, sp.intens, sp.npts, search, unused, {}, &found);
        for (const FoundLine& l : found)
            classic.push_back(l.frequency);
        std::sort(classic.begin(), classic.end());
    }
    const double near = (2 * q + 1) * sp.fstep;
    const auto peakfinder_has = [&](double f) {
        const auto it = std::lower_bound(classic.begin(), classic.end(), f - near);
        return it != classic.end() && *it <= f + near;
    };
    for (const std::int32_t i : local_candidates(sp.intens, sp.npts, level, q, height, sign)) {
        const std::int32_t y = sp.intens[std::size_t(i)];
        const double f = sp.freq[std::size_t(i)];
        res.lines.push_back({f, sp.fstep,
                             saturate_intensity(std::trunc(y - level[std::size_t(i - 1)])),
                             std::nullopt, true, !peakfinder_has(f)});
    }
    // A line reaches the cutoff when its fitted height above its own baseline
    // does what PEAKFINDER asks of its top above the level.
    const std::span<const std::int32_t> fitted =
        levels.unsmoothed.empty() ? std::span<const std::int32_t>(sp.intens) : levels.unsmoothed;
    // The clipped tops first: they are the strongest lines, and their fits
    // measure what a candidate on their flanks would.
    std::vector<FoundLine> clipped = clipped_tops(sp.freq, fitted, sp.npts);
    res.lines.insert(res.lines.begin(), clipped.begin(), clipped.end());
    RefineControl refine = control;
    refine.examined = &res.examined;
    res.candidates = res.lines.size();
    res.profile_lines = refine_lines(sp, fitted, res.lines, *st.profile, height,
                                     st.profile->shape.derivative == 1 && !st.dips ? 0 : sign,
                                     &res.below_cutoff, refine);
    res.interrupted = res.examined < res.candidates;
    for (const ProfileLine& p : res.profile_lines) {
        if (p.refusal) {
            ++res.totals.failed;
            // Where PEAKFINDER put the line, to the digits of its error there.
            append_note_line(res.text, p.line.frequency,
                             "profile fit refused: " + std::string(refusal_text(*p.refusal)),
                             widens_for(p.line.error, 5, sp.fstep) ? p.line.error : 0);
            continue;
        }
        ++res.totals.count;
        ++res.totals.with_fwhh;
        res.totals.sum += *p.line.fwhh;
        res.totals.sum2 += *p.line.fwhh * *p.line.fwhh;
        append_line(res.text, p.line.frequency, p.line.error, p.line.intensity, p.line.fwhh,
                    search.height, sp.fstep);
    }
    if (res.interrupted)
        append_note_line(res.text, res.lines[res.examined].frequency,
                         "interrupted: the lines from here on were not examined", sp.fstep);
    res.text += results_summary(res.totals);
    return res;
}

std::vector<FoundLine> clipped_tops(std::span<const double> freq,
                                    std::span<const std::int32_t> intens, std::int32_t npts) {
    std::vector<FoundLine> tops;
    if (npts < 1) return tops;
    const auto extremes = std::minmax_element(intens.begin() + 1, intens.begin() + 1 + npts);
    const std::int32_t low = *extremes.first, high = *extremes.second;
    // At a 16-bit limit, or at the data's extreme in a run of three or more.
    auto clipped = [&](std::int32_t i, std::int32_t run) {
        const std::int32_t v = intens[std::size_t(i)];
        return v >= 32767 || v <= -32768 || ((v == low || v == high) && run >= 3);
    };
    for (std::int32_t i = 1; i <= npts;) {
        std::int32_t j = i;
        while (j < npts && intens[std::size_t(j + 1)] == intens[std::size_t(i)])
            ++j;
        const std::int32_t run = j - i + 1;
        if (run >= 2 && clipped(i, run)) {
            FoundLine top;
            top.frequency = (freq[std::size_t(i)] + freq[std::size_t(j)]) / 2;
            top.error = freq[std::size_t(j)] - freq[std::size_t(i)];
            top.intensity = intens[std::size_t(i)];
            tops.push_back(top);
        }
        i = j + 1;
    }
    return tops;
}

std::vector<ProfileLine> refine_lines(const Spectrum& sp, std::span<const std::int32_t> intens,
                                      std::span<const FoundLine> found,
                                      const ProfileFitSettings& given, double min_height, int sign,
                                      std::int32_t* below, const RefineControl& control) {
    // A top flat at the data's extreme is clipped, whatever its level.
    ProfileFitSettings settings = given;
    if (sp.npts >= 1) {
        const auto [low, high] =
            std::minmax_element(intens.begin() + 1, intens.begin() + 1 + sp.npts);
        settings.data_low = *low;
        settings.data_high = *high;
    }
    std::vector<ProfileLine> lines;
    std::vector<double> weak; // fitted, but below min_height
    // A line already measured as part of an earlier fit (a blend, or two
    // candidates on one line) is not fitted again: within half a lobe width
    // of a reported centre it is the same line.
    // Nor is a place between the lines of a blend fitted: the blend's fit has
    // measured what is there, and a single line there would fit the blend's
    // two as one.
    Ranges measured, blends;
    const auto reported = [&](double f) { return measured.holds(f) || blends.holds(f); };
    const auto weak_near = [&](double f, double lobe) {
        return std::any_of(weak.begin(), weak.end(),
                           [&](double w) { return std::abs(w - f) < 0.5 * lobe; });
    };
    // Within this many points of the first or last point.
    constexpr double END_REACH = 10;
    const auto near_end = [&](double f) {
        if (sp.npts < 2 || !(sp.fstep != 0)) return false;
        const double from_first = std::abs(f - sp.freq[1]) / std::abs(sp.fstep);
        const double from_last = std::abs(sp.freq[std::size_t(sp.npts)] - f) / std::abs(sp.fstep);
        return std::min(from_first, from_last) <= END_REACH;
    };
    // The wings of a clipped or very strong line reach far beyond its window,
    // and there they bend the baseline of a weaker line's window more than
    // its polynomial follows: fitted as a broad line of their own, they come
    // out as lines that are not there. Such a line's fitted profile is taken
    // off the points that later fits read near it (all but the clipped ones,
    // which must stay at the limit for those fits to know them), inside its
    // own window too, where a candidate then sees only its residual: a step at
    // the window's edge would look like a line.
    std::vector<double> peeled;
    Ranges wings; // the frequencies taken off
    const auto peel = [&](const ProfileFit& fit, const FittedComponent& c) {
        if (peeled.empty()) peeled.assign(intens.begin(), intens.end());
        const double reach = WING_LOBES * c.lobe_width;
        const PointRange range =
            points_between(sp.freq, sp.npts, c.centre - reach, c.centre + reach);
        const LineWidths& w = fit.free_widths ? c.widths : fit.widths;
        for (std::int32_t i = range.first; i <= range.last; ++i) {
            const double f = sp.freq[std::size_t(i)];
            // Clipped points stay at the limit, where the fits know them.
            const std::int32_t v = intens[std::size_t(i)];
            if (v >= 32767 || v <= -32768 || v == settings.data_low || v == settings.data_high)
                continue;
            peeled[std::size_t(i)] -= c.amplitude * shape_value(fit.shape, f - c.centre, w);
        }
        wings.add(c.centre - reach, c.centre + reach);
    };
    // Most places only the local level shows are noise, which the smoothing
    // that found them hides, and a fit of noise costs several fits of a line:
    // a lobe at half of what such a place must reach, on the points as they
    // are, is refused before any fit. On the campaign's spectra every place
    // the fit kept showed 1.4 times what it must reach or more there, and
    // most of the noise it dropped less than a third.
    ProfileFitSettings tentative = settings;
    tentative.least_height = TENTATIVE_SHOWS * min_height;
    tentative.least_noise_units = TENTATIVE_SHOWS * TENTATIVE_SIGMAS;
    tentative.farthest_lobe = TENTATIVE_FARTHEST;
    std::size_t examined = 0;
    for (; examined < found.size(); ++examined) {
        if (control.stop && control.stop->load()) break;
        if (control.progress) control.progress(examined, found.size());
        const FoundLine& candidate = found[examined];
        if (reported(candidate.frequency)) continue;
        const ProfileFitSettings& used =
            candidate.tentative && !near_end(candidate.frequency) ? tentative : settings;
        const FitOutcome fit =
            wings.holds(candidate.frequency)
                ? fit_profile(sp.freq, std::span<const double>(peeled), sp.npts,
                              candidate.frequency, used)
                : fit_profile(sp.freq, intens, sp.npts, candidate.frequency, used);
        if (!fit) {
            // A tentative place is dropped when the fit finds no line there,
            // but not at the ends: there PEAKFINDER cannot look, and a line
            // the end cuts is counted as refused with its reason rather
            // than lost without a word.
            if (candidate.tentative && fit.refusal() != FitRefusal::AtEnd &&
                !near_end(candidate.frequency))
                continue;
            ProfileLine refused;
            refused.line = candidate;
            refused.refusal = fit.refusal();
            lines.push_back(refused);
            continue;
        }
        double first_taken = 0, last_taken = 0;
        int taken = 0;
        for (const FittedComponent& c : fit->components) {
            if (reported(c.centre)) continue;
            // A component whose centre the points leave open to more than the
            // line's width has not measured a line: a duplicate of one beside
            // it, or of nothing.
            if (!(c.centre_error <= fit->lobe_width)) continue;
            // A neighbour is fitted with the line so that the line comes out
            // right; it is a line of the results only if it reaches the cutoff.
            const double height = sign == 0 ? std::abs(c.height) : sign * c.height;
            // A place only the local level showed must also stand out of the
            // noise of the points the fit read (smoothing, which found it,
            // hides most of that noise): five of its deviations.
            const double least = candidate.tentative
                                     ? std::max(min_height, TENTATIVE_SIGMAS * fit->noise)
                                     : min_height;
            if (height < least) {
                if (!candidate.tentative && !weak_near(c.centre, fit->lobe_width))
                    weak.push_back(c.centre);
                continue;
            }
            ProfileLine l;
            l.line = {c.centre, c.centre_error, saturate_intensity(std::trunc(c.height)),
                      fit->lobe_width};
            l.widths = fit->widths;
            l.width_errors = fit->width_errors;
            l.reduced_chi_square = fit->reduced_chi_square;
            l.components = int(fit->components.size());
            l.flags = c.flags;
            l.widths = c.widths;
            l.width_errors = c.width_errors;
            l.line.fwhh = c.lobe_width;
            lines.push_back(l);
            measured.add(c.centre - 0.5 * c.lobe_width, c.centre + 0.5 * c.lobe_width);
            if (taken++ == 0) first_taken = c.centre;
            last_taken = c.centre;
            if (c.flags.saturated || std::abs(c.height) >= WING_SIGMAS * fit->noise) peel(*fit, c);
        }
        if (taken >= 2) blends.add(first_taken, last_taken);
    }
    if (control.examined) *control.examined = examined;
    if (control.progress) control.progress(examined, found.size());
    // A weak line fitted beside another may be reported by a later fit of its own.
    if (below)
        *below = std::int32_t(
            std::count_if(weak.begin(), weak.end(), [&](double w) { return !reported(w); }));
    std::stable_sort(lines.begin(), lines.end(), [](const ProfileLine& a, const ProfileLine& b) {
        return a.line.frequency < b.line.frequency;
    });
    return lines;
}

} // namespace korax

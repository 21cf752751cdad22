// The viewer's N and B keys, its entry levels and PEAKFINDER, over a spectrum
// of the batch commands. The passes and the search are the analysis library's
// own, the same the viewer runs.
#include "batch/processing.h"

#include "analysis/intensity_levels.h"
#include "analysis/line_window.h"
#include "analysis/lineshape.h"
#include "analysis/smooth.h"
#include "analysis/smoothing_passes.h"
#include "base/extremes.h"
#include "base/format.h"
#include "batch/median.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <thread>

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
    // Every range of `other` too (a range held twice is asked as once).
    void merge(const Ranges& other) {
        m_ranges.insert(other.m_ranges.begin(), other.m_ranges.end());
        m_longest = std::max(m_longest, other.m_longest);
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
    return 1.4826 * mad / std::sqrt(1.0 - double(coef[2])) * smoothed_noise_share(smoothed_by);
}

double smoothed_noise_share(std::int32_t smoothed_by) {
    if (smoothed_by <= 0) return 1;
    std::array<float, 501> table{};
    const SmoothingWindow w = smoothing_window(1, false, smoothed_by);
    smoothing_coefficients(w.m, table);
    return std::sqrt(double(table[std::size_t(w.m)]));
}

std::vector<FoundLine> strong_tops(std::span<const double> freq,
                                   std::span<const std::int32_t> intens, std::int32_t npts,
                                   std::span<const double> level, double least, int sign) {
    std::vector<FoundLine> tops;
    if (npts < 1) return tops;
    // A flat top at the data's extreme may be clipped, and is clipped_tops' own.
    const auto [low, high] = extremes_of(intens.subspan(1, std::size_t(npts)));
    // A top stands above every point this near; a strong line's lobe spans
    // more points than that, and noise this far below it makes no second top.
    constexpr std::int32_t NEAR = 3;
    const auto above = [&](std::int32_t i) {
        return sign * (double(intens[std::size_t(i)]) - level[std::size_t(i - 1)]);
    };
    for (std::int32_t i = 1; i <= npts; ++i) {
        const double v = above(i);
        if (!(v >= least)) continue;
        const std::int32_t y = intens[std::size_t(i)];
        const bool flat = (i > 1 && intens[std::size_t(i - 1)] == y) ||
                          (i < npts && intens[std::size_t(i + 1)] == y);
        if (y >= 32767 || y <= -32768 || ((y == low || y == high) && flat)) continue;
        bool top = true;
        for (std::int32_t j = std::max(1, i - NEAR); top && j <= std::min(npts, i + NEAR); ++j)
            if (j != i && (j < i ? above(j) >= v : above(j) > v)) top = false;
        if (top)
            tops.push_back(
                {freq[std::size_t(i)],
                 std::abs(freq[std::size_t(std::min(npts, i + 1))] - freq[std::size_t(i)]),
                 saturate_intensity(std::trunc(v)), std::nullopt, true, false});
    }
    return tops;
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
    std::vector<FoundLine> first = clipped_tops(sp.freq, fitted, sp.npts);
    // Then the tops so strong that their wings are taken off the points
    // beside them (the smoothing may show such a line as lobes either side
    // of it): a weaker line beside one, fitted first, reads a window cut by
    // the strong line's flank, and fits the two as a broad misfit.
    if (noise) {
        const std::vector<FoundLine> strong =
            strong_tops(sp.freq, fitted, sp.npts, level,
                        WING_SIGMAS * *noise / smoothed_noise_share(st.smooth), sign);
        first.insert(first.end(), strong.begin(), strong.end());
    }
    res.lines.insert(res.lines.begin(), first.begin(), first.end());
    RefineControl refine = control;
    refine.examined = &res.examined;
    refine.threads = st.threads;
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
    // Plain names, not a structured binding: the lambda below captures them.
    const auto extremes = extremes_of(intens.subspan(1, std::size_t(npts)));
    const std::int32_t low = extremes.first, high = extremes.second;
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

namespace {

// What the refinement has measured so far. A part of it run beside others
// also keeps what it asked of that (`asking`) and what it added
// (`adding`): a part whose questions no earlier part's additions answer
// differently, and which read no point an earlier part changed, has done
// exactly what it would have done after them.
struct RefineState {
    std::vector<ProfileLine> lines;
    std::vector<double> weak; // fitted, but below min_height
    // A line already measured as part of an earlier fit (a blend, or two
    // candidates on one line) is not fitted again: within half a lobe width
    // of a reported centre it is the same line. Nor is a place between the
    // lines of a blend fitted: the blend's fit has measured what is there,
    // and a single line there would fit the blend's two as one.
    Ranges measured, blends;
    // The points with the wings of strong lines taken off, and where; shared
    // with the state a part was copied from until it takes off wings itself.
    Ranges wings;
    std::shared_ptr<std::vector<double>> peeled;
    bool own_peeled = false;

    bool asking = false, adding = false;
    std::vector<double> asked;                         // of reported() and in_wings()
    std::vector<std::pair<double, double>> asked_weak; // of weak_near(): centre, lobe
    std::vector<PointRange> read_peeled;               // the points read with wings off
    Ranges added;                                      // measured, blends and wings together
    std::vector<double> added_weak;
    std::vector<std::pair<ProfileFit, FittedComponent>> peels; // in the order taken off
    std::vector<PointRange> changed;                           // the points those changed

    bool reported(double f) {
        if (asking) asked.push_back(f);
        return measured.holds(f) || blends.holds(f);
    }
    bool in_wings(double f) {
        if (asking) asked.push_back(f);
        return wings.holds(f);
    }
    bool weak_near(double f, double lobe) {
        if (asking) asked_weak.emplace_back(f, lobe);
        return std::any_of(weak.begin(), weak.end(),
                           [&](double w) { return std::abs(w - f) < 0.5 * lobe; });
    }
    void add_measured(double low, double high) {
        measured.add(low, high);
        if (adding) added.add(low, high);
    }
    void add_blend(double low, double high) {
        blends.add(low, high);
        if (adding) added.add(low, high);
    }
    void add_weak(double f) {
        weak.push_back(f);
        if (adding) added_weak.push_back(f);
    }
    // Whether what `earlier` added answers any of this part's questions, or
    // changed points this part read with the wings taken off.
    bool depends_on(const RefineState& earlier) const {
        for (const PointRange& r : read_peeled)
            for (const PointRange& c : earlier.changed)
                if (c.first <= r.last && r.first <= c.last) return true;
        for (double f : asked)
            if (earlier.added.holds(f)) return true;
        for (const auto& [f, lobe] : asked_weak)
            for (double w : earlier.added_weak)
                if (std::abs(w - f) < 0.5 * lobe) return true;
        return false;
    }
    // What `part` added, as though it had been asked after these.
    void take_additions(const RefineState& part) {
        added.merge(part.added);
        added_weak.insert(added_weak.end(), part.added_weak.begin(), part.added_weak.end());
        peels.insert(peels.end(), part.peels.begin(), part.peels.end());
        changed.insert(changed.end(), part.changed.begin(), part.changed.end());
    }
    void clear_additions() {
        added = {};
        added_weak.clear();
        peels.clear();
        changed.clear();
    }
};

// The fits of one spectrum's found lines, with what every fit shares.
class Refiner {
  public:
    Refiner(const Spectrum& sp, std::span<const std::int32_t> intens,
            const ProfileFitSettings& given, double min_height, int sign)
        : m_sp(sp), m_intens(intens), m_settings(given), m_min_height(min_height), m_sign(sign) {
        // A top flat at the data's extreme is clipped, whatever its level.
        if (sp.npts >= 1) {
            const auto [low, high] =
                std::minmax_element(intens.begin() + 1, intens.begin() + 1 + sp.npts);
            m_settings.data_low = *low;
            m_settings.data_high = *high;
        }
        // Most places only the local level shows are noise, which the
        // smoothing that found them hides, and a fit of noise costs several
        // fits of a line: a lobe at half of what such a place must reach, on
        // the points as they are, is refused before any fit. On the
        // campaign's spectra every place the fit kept showed 1.4 times what
        // it must reach or more there, and most of the noise it dropped less
        // than a third.
        m_tentative = m_settings;
        m_tentative.least_height = TENTATIVE_SHOWS * min_height;
        m_tentative.least_noise_units = TENTATIVE_SHOWS * TENTATIVE_SIGMAS;
        m_tentative.farthest_lobe = TENTATIVE_FARTHEST;
        // Nor is such a place fitted where the first look finds a lobe
        // pointing against the scan: the flank of a strong neighbour, beside
        // which the smoothing showed a bump. Fitted, it took a window five
        // times a line's, and a fifth of one spectrum's fits, to find
        // nothing the neighbours' own fits had not.
        m_tentative.lobe_sign = sign;
    }

    void examine(const FoundLine& candidate, RefineState& s) const;

    // The wings of a clipped or very strong line reach far beyond its
    // window, and there they bend the baseline of a weaker line's window more
    // than its polynomial follows: fitted as a broad line of their own, they
    // come out as lines that are not there. Such a line's fitted profile is
    // taken off the points that later fits read near it (all but the clipped
    // ones, which must stay at the limit for those fits to know them), inside
    // its own window too, where a candidate then sees only its residual: a
    // step at the window's edge would look like a line.
    void peel(RefineState& s, const ProfileFit& fit, const FittedComponent& c) const {
        if (!s.own_peeled) {
            s.peeled =
                s.peeled ? std::make_shared<std::vector<double>>(*s.peeled)
                         : std::make_shared<std::vector<double>>(m_intens.begin(), m_intens.end());
            s.own_peeled = true;
        }
        std::vector<double>& peeled = *s.peeled;
        const double reach = WING_LOBES * c.lobe_width;
        const PointRange range =
            points_between(m_sp.freq, m_sp.npts, c.centre - reach, c.centre + reach);
        const LineWidths& w = fit.free_widths ? c.widths : fit.widths;
        for (std::int32_t i = range.first; i <= range.last; ++i) {
            const double f = m_sp.freq[std::size_t(i)];
            // Clipped points stay at the limit, where the fits know them.
            const std::int32_t v = m_intens[std::size_t(i)];
            if (v >= 32767 || v <= -32768 || v == m_settings.data_low || v == m_settings.data_high)
                continue;
            peeled[std::size_t(i)] -= c.amplitude * shape_value(fit.shape, f - c.centre, w);
        }
        s.wings.add(c.centre - reach, c.centre + reach);
        if (s.adding) {
            s.added.add(c.centre - reach, c.centre + reach);
            s.peels.emplace_back(fit, c);
            s.changed.push_back(range);
        }
    }

  private:
    // Within this many points of the first or last point.
    bool near_end(double f) const {
        constexpr double END_REACH = 10;
        if (m_sp.npts < 2 || !(m_sp.fstep != 0)) return false;
        const double from_first = std::abs(f - m_sp.freq[1]) / std::abs(m_sp.fstep);
        const double from_last =
            std::abs(m_sp.freq[std::size_t(m_sp.npts)] - f) / std::abs(m_sp.fstep);
        return std::min(from_first, from_last) <= END_REACH;
    }

    const Spectrum& m_sp;
    std::span<const std::int32_t> m_intens;
    ProfileFitSettings m_settings, m_tentative;
    double m_min_height;
    int m_sign;
};

void Refiner::examine(const FoundLine& candidate, RefineState& s) const {
    if (s.reported(candidate.frequency)) return;
    ProfileFitSettings used =
        candidate.tentative && !near_end(candidate.frequency) ? m_tentative : m_settings;
    const bool peeled = s.in_wings(candidate.frequency);
    PointRange read;
    if (peeled && s.asking) used.read = &read;
    const FitOutcome fit =
        peeled ? fit_profile(m_sp.freq, std::span<const double>(*s.peeled), m_sp.npts,
                             candidate.frequency, used)
               : fit_profile(m_sp.freq, m_intens, m_sp.npts, candidate.frequency, used);
    if (read.count() > 0) s.read_peeled.push_back(read);
    if (!fit) {
        // A tentative place is dropped when the fit finds no line there, but
        // not at the ends: there PEAKFINDER cannot look, and a line the end
        // cuts is counted as refused with its reason rather than lost
        // without a word.
        if (candidate.tentative && fit.refusal() != FitRefusal::AtEnd &&
            !near_end(candidate.frequency))
            return;
        ProfileLine refused;
        refused.line = candidate;
        refused.refusal = fit.refusal();
        s.lines.push_back(refused);
        return;
    }
    double first_taken = 0, last_taken = 0;
    int taken = 0;
    for (const FittedComponent& c : fit->components) {
        if (s.reported(c.centre)) continue;
        // A component whose centre the points leave open to more than the
        // line's width has not measured a line: a duplicate of one beside it,
        // or of nothing.
        if (!(c.centre_error <= fit->lobe_width)) continue;
        // A neighbour is fitted with the line so that the line comes out
        // right; it is a line of the results only if it reaches the cutoff.
        const double height = m_sign == 0 ? std::abs(c.height) : m_sign * c.height;
        // A place only the local level showed must also stand out of the
        // noise of the points the fit read (smoothing, which found it, hides
        // most of that noise): five of its deviations.
        const double least = candidate.tentative
                                 ? std::max(m_min_height, TENTATIVE_SIGMAS * fit->noise)
                                 : m_min_height;
        if (height < least) {
            if (!candidate.tentative && !s.weak_near(c.centre, fit->lobe_width))
                s.add_weak(c.centre);
            continue;
        }
        ProfileLine l;
        l.line = {c.centre, c.centre_error, saturate_intensity(std::trunc(c.height)),
                  fit->lobe_width};
        l.reduced_chi_square = fit->reduced_chi_square;
        l.components = int(fit->components.size());
        l.flags = c.flags;
        l.widths = c.widths;
        l.width_errors = c.width_errors;
        l.line.fwhh = c.lobe_width;
        s.lines.push_back(l);
        s.add_measured(c.centre - 0.5 * c.lobe_width, c.centre + 0.5 * c.lobe_width);
        if (taken++ == 0) first_taken = c.centre;
        last_taken = c.centre;
        if (c.flags.saturated || std::abs(c.height) >= WING_SIGMAS * fit->noise) peel(s, *fit, c);
    }
    if (taken >= 2) s.add_blend(first_taken, last_taken);
}

// Below this many found lines a part of its own is not worth a thread.
constexpr std::size_t PART_FROM = 64;

// The found lines from..to (exclusive) into `s`: how many were examined
// before a stop.
std::size_t run_part(const Refiner& r, std::span<const FoundLine> found, std::size_t from,
                     std::size_t to, RefineState& s, const RefineControl& control,
                     std::atomic<std::size_t>& done, bool reports) {
    for (std::size_t i = from; i < to; ++i) {
        if (stopped(control.stop)) return i - from;
        if (reports && control.progress) control.progress(done.load(), found.size());
        r.examine(found[i], s);
        done.fetch_add(1, std::memory_order_relaxed);
    }
    return to - from;
}

// Where the lines from..to (exclusive, ascending) are cut into `parts`:
// where they lie farthest apart near each share, so that few fits of one part
// reach into another.
std::vector<std::size_t> part_cuts(std::span<const FoundLine> found, std::size_t from,
                                   std::size_t to, std::size_t parts) {
    std::vector<std::size_t> cuts{from};
    const std::size_t count = to - from;
    for (std::size_t k = 1; k < parts; ++k) {
        const std::size_t aim = from + count * k / parts, spread = count / parts / 4;
        std::size_t best = aim;
        for (std::size_t i = aim - spread; i <= aim + spread; ++i)
            if (found[i].frequency - found[i - 1].frequency >
                found[best].frequency - found[best - 1].frequency)
                best = i;
        cuts.push_back(std::max(best, cuts.back() + 1));
    }
    cuts.push_back(to);
    return cuts;
}

// The found lines from..to (exclusive) into `state`, examined as in their
// order: how many were examined before a stop. On several processors the run
// is cut in parts, one a thread, each begun from what the lines before the
// run left: a part that neither asked about nor read what the parts before it
// added or changed is what it would have been after them; one that did is
// run again after them. The results are the same however many processors
// there are.
std::size_t examine_run(const Refiner& refiner, std::span<const FoundLine> found, std::size_t from,
                        std::size_t to, RefineState& state, const RefineControl& control,
                        std::atomic<std::size_t>& done) {
    const std::size_t parts =
        std::min<std::size_t>(std::size_t(std::max(1, control.threads)), (to - from) / PART_FROM);
    if (parts < 2) return run_part(refiner, found, from, to, state, control, done, true);
    // Where the parts taken so far end.
    std::size_t examined = from;
    const std::vector<std::size_t> cuts = part_cuts(found, from, to, parts);
    std::vector<RefineState> others(parts - 1);
    std::vector<std::size_t> counts(parts, 0);
    // Every part reads the points as the lines before the run left them,
    // and takes wings off a copy of its own.
    state.own_peeled = false;
    state.adding = true;
    {
        std::vector<std::jthread> threads;
        for (std::size_t k = 1; k < parts; ++k) {
            RefineState& part = others[k - 1];
            part.measured = state.measured;
            part.blends = state.blends;
            part.wings = state.wings;
            part.weak = state.weak;
            part.peeled = state.peeled;
            part.asking = part.adding = true;
            threads.emplace_back([&, k] {
                counts[k] = run_part(refiner, found, cuts[k], cuts[k + 1], others[k - 1], control,
                                     done, false);
            });
        }
        counts[0] = run_part(refiner, found, cuts[0], cuts[1], state, control, done, true);
    }
    examined += counts[0];
    // `state` holds the parts taken so far, `before` what they added.
    RefineState before;
    before.take_additions(state);
    for (std::size_t k = 1; k < parts && examined == cuts[k]; ++k) {
        RefineState& part = others[k - 1];
        if (part.depends_on(before)) {
            // Its lines are counted again as they are fitted again.
            done.fetch_sub(counts[k]);
            state.clear_additions();
            counts[k] = run_part(refiner, found, cuts[k], cuts[k + 1], state, control, done, true);
            before.take_additions(state);
        } else {
            state.lines.insert(state.lines.end(), part.lines.begin(), part.lines.end());
            state.weak.insert(state.weak.end(), part.added_weak.begin(), part.added_weak.end());
            state.measured.merge(part.measured);
            state.blends.merge(part.blends);
            // Its wings off the points as the parts before it left them,
            // in the order it took them off.
            for (const auto& [fit, c] : part.peels)
                refiner.peel(state, fit, c);
            before.take_additions(part);
        }
        examined += counts[k];
    }
    state.adding = false;
    state.clear_additions();
    return examined - from;
}

} // namespace

std::vector<ProfileLine> refine_lines(const Spectrum& sp, std::span<const std::int32_t> intens,
                                      std::span<const FoundLine> found,
                                      const ProfileFitSettings& given, double min_height, int sign,
                                      std::int32_t* below, const RefineControl& control) {
    const Refiner refiner(sp, intens, given, min_height, sign);
    RefineState state;
    std::atomic<std::size_t> done{0};
    // The lines are examined in their order (the clipped tops, the strong
    // ones, then the rest, each by frequency), and what one fit measures
    // decides what later ones do; each run by frequency is shared out among
    // the processors.
    std::size_t examined = 0;
    for (std::size_t from = 0; from < found.size() && examined == from;) {
        std::size_t to = from + 1;
        while (to < found.size() && found[to - 1].frequency <= found[to].frequency)
            ++to;
        examined += examine_run(refiner, found, from, to, state, control, done);
        from = to;
    }
    if (control.examined) *control.examined = examined;
    if (control.progress) control.progress(examined, found.size());
    // A weak line fitted beside another may be reported by a later fit of its own.
    if (below)
        *below = std::int32_t(std::count_if(state.weak.begin(), state.weak.end(), [&](double w) {
            return !state.measured.holds(w) && !state.blends.holds(w);
        }));
    std::vector<ProfileLine> lines = std::move(state.lines);
    std::stable_sort(lines.begin(), lines.end(), [](const ProfileLine& a, const ProfileLine& b) {
        return a.line.frequency < b.line.frequency;
    });
    return lines;
}

} // namespace korax

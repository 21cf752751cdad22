// PEAKFINDER's scan: every point at or above the cutoff that stands above its
// neighbours a quarter and a half fitting width away is a candidate, fitted
// three times about its top, and measured at half height. Nothing is drawn.
#include "analysis/peak_search.h"

#include "analysis/half_height.h"
#include "analysis/line_fit.h"
#include "analysis/order_statistic.h"
#include "analysis/smooth.h"
#include "base/cloned.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <thread>

namespace korax {

namespace {

// Nearest point to frequency f on the equally spaced axis, limited to [lo, hi];
// computed in floating point first so that a wild fit cannot overflow.
std::int32_t nearest_point(double f, std::span<const double> freq, std::int32_t npts,
                           std::int32_t lo, std::int32_t hi) {
    const double span = freq[std::size_t(npts)] - freq[1];
    double x = span != 0 ? std::round((f - freq[1]) / span * (npts - 1)) + 1 : 1;
    if (!(x >= lo)) x = lo; // NaN lands at the low end
    if (x > hi) x = hi;
    return static_cast<std::int32_t>(x);
}

// The first k in [from, to] with y[k] >= level, or to + 1. Most of a spectrum
// lies below the cutoff; testing whole blocks at once lets the compiler use
// vector compares for that stretch.
template <class T>
std::int64_t next_reaching(std::span<const T> y, std::int64_t from, std::int64_t to, T level) {
    constexpr std::int64_t block = 16;
    std::int64_t k = from;
    while (k + block - 1 <= to) {
        bool any = false;
        for (std::int64_t j = 0; j < block; ++j)
            any |= y[std::size_t(k + j)] >= level;
        if (any) break;
        k += block;
    }
    while (k <= to && !(y[std::size_t(k)] >= level))
        ++k;
    return k;
}

} // namespace

template <class T>
std::int64_t next_candidate(std::span<const T> y, std::int64_t from, std::int64_t to,
                            std::int64_t q, T cutoff) {
    for (std::int64_t i = from; i <= to;) {
        const T v = y[std::size_t(i)];
        if (!(v >= cutoff)) {
            i = next_reaching(y, i + 1, to, cutoff);
            continue;
        }
        if (v > y[std::size_t(i + q)] && v > y[std::size_t(i + 2 * q)] &&
            v > y[std::size_t(i - 2 * q)] && v > y[std::size_t(i - q)])
            return i;
        ++i;
    }
    return to + 1;
}

template std::int64_t next_candidate(std::span<const std::int32_t>, std::int64_t, std::int64_t,
                                     std::int64_t, std::int32_t);
template std::int64_t next_candidate(std::span<const double>, std::int64_t, std::int64_t,
                                     std::int64_t, double);

std::vector<std::size_t> candidate_places(std::span<const double> values, std::size_t q,
                                          double cutoff) {
    assert(q >= 1);
    std::vector<std::size_t> found;
    const auto step = std::int64_t(q);
    const std::int64_t last = std::int64_t(values.size()) - 2 * step - 1;
    for (std::int64_t i = 2 * step; (i = next_candidate(values, i, last, step, cutoff)) <= last;
         i += 2 * step + 1)
        found.push_back(std::size_t(i));
    std::stable_sort(found.begin(), found.end(),
                     [&](std::size_t a, std::size_t b) { return values[a] > values[b]; });
    return found;
}

namespace {

// What the fits and the half-height search found for one candidate.
struct Measured {
    LineFitOutcome outcome = LineFitOutcome::Fitted;
    LineFit fit;
    Crossings crossings;
};

} // namespace

namespace {

// The medians of blocks of `block` points of r (0-based) that `use` keeps,
// joined by straight lines, added to `level`.
KORAX_CLONED void add_block_medians(std::span<const double> r, std::span<const char> use,
                                    std::int32_t block, std::vector<double>& level) {
    const auto n = std::int32_t(r.size());
    // Kept per thread, as local_level's buffers.
    thread_local std::vector<double> middle, median, values;
    middle.clear();
    median.clear();
    // The last block takes what is left when that is at least half a block,
    // else it joins the one before.
    for (std::int32_t first = 0; first < n;) {
        std::int32_t last = std::min(n - 1, first + block - 1);
        if (n - 1 - last < block / 2) last = n - 1;
        const auto size = std::size_t(last - first + 1);
        const std::span<const double> all = r.subspan(std::size_t(first), size);
        // Most blocks hold no line: all of their points count, uncopied.
        const char* marks = use.data() + first;
        std::size_t kept = size;
        if (std::memchr(marks, 0, size) != nullptr) {
            values.resize(size);
            kept = 0;
            for (std::size_t i = 0; i < size; ++i) {
                values[kept] = all[i];
                kept += marks[i] != 0;
            }
        }
        // A block left with less than half its points is one the level does
        // not yet follow (a steep stretch): all of them count there.
        const std::span<const double> counted =
            kept == size || 2 * kept < size ? all : std::span<const double>(values).first(kept);
        middle.push_back((first + last) / 2.0);
        median.push_back(kth_smallest(counted, counted.size() / 2));
        first = last + 1;
    }
    // Flat before the first middle and after the last, straight between.
    const std::size_t count = middle.size();
    std::int32_t i = 0;
    for (; i < n && !(i > middle[0]); ++i)
        level[std::size_t(i)] += median[0];
    for (std::size_t b = 0; b + 1 < count; ++b) {
        const double from = middle[b], span = middle[b + 1] - middle[b];
        const double base = median[b], rise = median[b + 1] - median[b];
        // The points up to the next middle (a whole or half number), counted
        // first so that the loop below has no test but its end.
        const auto end = std::min(n, std::int32_t(std::floor(middle[b + 1])) + 1);
        double* out = level.data();
        for (; i < end; ++i) {
            const double f = (i - from) / span;
            out[i] += base + f * rise;
        }
    }
    for (; i < n; ++i)
        level[std::size_t(i)] += median[count - 1];
}

} // namespace

KORAX_CLONED std::vector<double> local_level(std::span<const std::int32_t> y, std::int32_t n,
                                             std::int32_t block, double clip) {
    assert(n >= 1 && y.size() > std::size_t(n) && block >= 1);
    std::vector<double> level(static_cast<std::size_t>(n), 0.0);
    // Kept per thread from one spectrum of a campaign to the next: fresh
    // pages of a spectrum's size cost as much as a round of the medians.
    thread_local std::vector<double> r;
    thread_local std::vector<char> use;
    r.resize(static_cast<std::size_t>(n));
    use.assign(static_cast<std::size_t>(n), 1);
    // On a steep baseline a line moves the median of its block by the slope
    // times the points it displaces; the medians of what the level before
    // leaves are nearly free of that, and three more rounds settle them. From
    // the second round on, short runs of points standing `clip` or more off
    // the level (the lines and the deep lobes of strong ones, which would pull
    // the level under their neighbours) and their surroundings are left out.
    const std::int32_t reach = std::max(1, block / 16);
    for (int round = 0; round < 4; ++round) {
        for (std::int32_t i = 1; i <= n; ++i)
            r[std::size_t(i - 1)] = double(y[std::size_t(i)]) - level[std::size_t(i - 1)];
        if (round > 0 && clip > 0) {
            // Only short runs off the level are lines; a long one is a stretch
            // the level does not follow yet, and leaving it out would keep
            // the points of one side of a slope.
            std::fill(use.begin(), use.end(), 1);
            for (std::int32_t i = 0; i < n;) {
                if (!(std::abs(r[std::size_t(i)]) >= clip)) {
                    ++i;
                    continue;
                }
                std::int32_t end = i;
                while (end < n && std::abs(r[std::size_t(end)]) >= clip)
                    ++end;
                if (end - i <= block / 4)
                    for (std::int32_t k = std::max(0, i - reach); k < std::min(n, end + reach); ++k)
                        use[std::size_t(k)] = 0;
                i = end;
            }
        }
        add_block_medians(r, use, block, level);
    }
    return level;
}

std::vector<std::int32_t> local_candidates(std::span<const std::int32_t> y, std::int32_t n,
                                           std::span<const double> level, std::int32_t q,
                                           double height, int sign) {
    assert(q >= 1 && level.size() >= std::size_t(n) && y.size() > std::size_t(n));
    thread_local std::vector<double> above; // kept per thread, as local_level's
    above.resize(static_cast<std::size_t>(n));
    for (std::int32_t i = 1; i <= n; ++i)
        above[std::size_t(i - 1)] = sign * (double(y[std::size_t(i)]) - level[std::size_t(i - 1)]);
    // PEAKFINDER's strict test, but a top of equal points (a line of a few
    // counts, a clipped one) counts at its first point instead of not at all.
    std::vector<std::int32_t> places;
    const auto v = [&](std::int32_t i) { return above[std::size_t(i)]; };
    for (std::int32_t i = 2 * q; i + 2 * q < n; ++i) {
        const double top = v(i);
        if (top >= height && top > v(i - q) && top > v(i - 2 * q) && top >= v(i + q) &&
            top >= v(i + 2 * q)) {
            places.push_back(i + 1);
            i += 2 * q;
        }
    }
    // Within 2q points of an end the test has one side only: a top that no
    // point between it and the end exceeds. The fit then measures the line
    // with the window there is, or says why it cannot.
    const auto highest_to = [&](std::int32_t i, std::int32_t end) {
        const std::int32_t lo = std::min(i, end), hi = std::max(i, end);
        for (std::int32_t j = lo; j <= hi; ++j)
            if (v(j) > v(i)) return false;
        return true;
    };
    if (n > 4 * q + 1) {
        std::vector<std::int32_t> ends;
        for (std::int32_t i = 0; i < 2 * q; ++i)
            if (v(i) >= height && highest_to(i, 0) && v(i) > v(i + q) && v(i) > v(i + 2 * q)) {
                ends.push_back(i + 1);
                break;
            }
        for (std::int32_t i = n - 1; i >= n - 2 * q; --i)
            if (v(i) >= height && highest_to(i, n - 1) && v(i) > v(i - q) && v(i) > v(i - 2 * q)) {
                ends.push_back(i + 1);
                break;
            }
        for (const std::int32_t e : ends)
            if (std::none_of(places.begin(), places.end(),
                             [&](std::int32_t p) { return std::abs(p - e) <= 2 * q; }))
                places.push_back(e);
        std::sort(places.begin(), places.end());
    }
    return places;
}

PeakSearchTotals search_lines(std::span<const double> freq, std::span<const std::int32_t> intens,
                              std::int32_t npts, const PeakSearchSettings& st, std::string& text,
                              const std::function<void(std::int32_t)>& progress,
                              std::vector<FoundLine>* found) {
    assert(st.nfit >= 5 && st.nfit % 2 == 1 && "PEAKFINDER fits an odd number of 5 or more points");
    assert(st.start >= 1 && st.end <= npts && freq.size() > std::size_t(npts) &&
           intens.size() > std::size_t(npts));
    PeakSearchTotals totals;
    const std::int32_t w = st.nfit;
    const std::int32_t q = std::max(1, w / 4);
    const std::int32_t h = w / 2;
    const double step = npts > 1 ? (freq[std::size_t(npts)] - freq[1]) / (npts - 1) : 0;
    // The window of the next fit stays inside the spectrum.
    const std::function<std::int64_t(double)> recentre = [&](double f) {
        return nearest_point(f, freq, npts, h + 1, npts - h);
    };
    // Candidates are measured a batch at a time: where the scan puts them
    // does not depend on the fits, and each one's fits and crossings depend
    // on it alone, so the threads share a batch out; the lines are then
    // written and counted in their order, as one at a time would.
    const int threads = std::max(1, std::min(st.threads, 16));
    constexpr std::size_t batch_size = 2048;
    std::vector<std::int64_t> candidates;
    std::vector<Measured> measured;
    candidates.reserve(batch_size);
    measured.resize(batch_size);
    // One finder per thread: it builds its skipping tables when first needed.
    std::vector<HalfHeightFinder> finders;
    for (int t = 0; t < threads; ++t)
        finders.emplace_back(freq, intens, st.start, st.end);
    const auto measure = [&](HalfHeightFinder& finder, std::size_t from, std::size_t to) {
        for (std::size_t c = from; c < to; ++c) {
            Measured& m = measured[c];
            m.outcome = fit_and_recentre(freq, intens, npts, candidates[c], h, 3, recentre, m.fit);
            if (m.outcome != LineFitOutcome::Fitted) continue;
            const std::int32_t j0 = nearest_point(m.fit.FPEAK, freq, npts, std::max(1, 2 * q),
                                                  std::min(npts, npts - 2 * q));
            m.crossings = finder.around(j0, (st.baseline + m.fit.YPEAK) / 2);
        }
    };

    const std::int64_t last = std::int64_t(st.end) - w;
    std::int64_t i = std::int64_t(st.start) + w + 1;
    while (i <= last) {
        candidates.clear();
        // The next 2q points after a candidate are not examined.
        for (; candidates.size() < batch_size &&
               (i = next_candidate<std::int32_t>(intens, i, last, q, st.cutoff)) <= last;
             i += 2 * q + 1)
            candidates.push_back(i);
        const std::size_t count = candidates.size();
        // A thread pays for itself from a few hundred lines on.
        const int used = count >= 512 ? threads : 1;
        if (used == 1) {
            measure(finders[0], 0, count);
        } else {
            std::vector<std::thread> pool;
            const std::size_t share = (count + std::size_t(used) - 1) / std::size_t(used);
            for (int t = 1; t < used; ++t)
                pool.emplace_back([&, t] {
                    measure(finders[std::size_t(t)], std::min(count, t * share),
                            std::min(count, (t + 1) * share));
                });
            measure(finders[0], 0, std::min(count, share));
            for (auto& t : pool)
                t.join();
        }
        for (std::size_t c = 0; c < count; ++c) {
            const Measured& m = measured[c];
            const auto at = std::size_t(candidates[c]);
            if (m.outcome != LineFitOutcome::Fitted) {
                ++totals.failed;
                append_failed_line(text, freq[at], step);
                if (found) found->push_back({freq[at], 0, 0, std::nullopt, false});
                continue;
            }
            const LineFit& fit = m.fit;
            const Crossings& r = m.crossings;
            if (const auto fwhh = r.width()) {
                ++totals.with_fwhh;
                totals.sum += *fwhh;
                totals.sum2 += *fwhh * *fwhh;
            }
            ++totals.count;
            append_result_line(text, fit.FPEAK, fit.FPERR, fit.YPEAK, r, st.baseline, st.height,
                               step);
            if (found)
                found->push_back({fit.FPEAK, fit.FPERR,
                                  saturate_intensity(std::trunc(fit.YPEAK - st.baseline)),
                                  r.width()});
            if (progress && totals.count % 10 == 0) progress(totals.count);
        }
    }
    return totals;
}

} // namespace korax

// PEAKFINDER's scan: every point at or above the cutoff that stands above its
// neighbours a quarter and a half fitting width away is a candidate, fitted
// three times about its top, and measured at half height. Nothing is drawn.
#include "analysis/peak_search.h"

#include "analysis/half_height.h"
#include "analysis/line_fit.h"
#include "analysis/smooth.h"

#include <algorithm>
#include <cassert>
#include <cmath>
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

// The reference on the main grid, its scale and the difference. Built with
// -ffp-contract=off (analysis/CMakeLists.txt): a fused multiply-add rounds
// once where numpy rounds twice, and a difference that lands on a whole
// number would then truncate to another integer.
#include "analysis/difference.h"

#include "base/two_halves.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korax {

namespace {

constexpr double NOT_COVERED = std::numeric_limits<double>::quiet_NaN();

// A difference as an intensity: truncated toward zero (the conversion does
// that) and held in the 32-bit range. Never NaN here: main and k x ref are
// finite.
std::int32_t held_intensity(double y) {
    constexpr double lo = -2147483648.0, hi = 2147483647.0;
    return static_cast<std::int32_t>(std::min(std::max(y, lo), hi));
}

std::int32_t difference_at(std::int32_t m, double r, double k) {
    return std::isnan(r) ? m : held_intensity(m - k * r);
}

// `half(which, from, to)` over the two halves of first..last, ends inclusive.
template <class Half> void over_two_halves(std::int64_t first, std::int64_t last, Half&& half) {
    if (last < first) return;
    const std::int64_t middle = first + (last - first) / 2;
    in_two_halves(last - first, [&](int which) {
        if (which == 0)
            half(0, first, middle);
        else
            half(1, middle + 1, last);
    });
}

// The sums of one half of a fit, four of each kind, so that the additions
// need not wait on each other; about a shift (see fit_scale).
struct FitSums {
    double m[4] = {}, r[4] = {}, mr[4] = {}, rr[4] = {}, n[4] = {};
};

double lanes(const double (&v)[4]) {
    return (v[0] + v[1]) + (v[2] + v[3]);
}

} // namespace

void interpolate_reference(std::span<const double> x, std::span<const double> rf,
                           std::span<const std::int32_t> ry, std::span<double> out) {
    assert(rf.size() == ry.size() && rf.size() >= 2 && out.size() == x.size());
    const std::size_t m = rf.size() - 1;
    const double lowest = rf[1], highest = rf[m];
    over_two_halves(
        1, static_cast<std::int64_t>(x.size()) - 1, [&](int, std::int64_t from, std::int64_t to) {
            if (from > to) return;
            // j is the bracket: rf[j] <= x < rf[j + 1], or j = m at
            // the last point, as numpy's search finds it. It moves
            // with x, so rising x walk both axes once; each half
            // starts it at its first x.
            const double start = x[static_cast<std::size_t>(from)];
            std::size_t j = 1;
            if (start > lowest)
                j = static_cast<std::size_t>(std::upper_bound(rf.begin() + 1, rf.end(), start) -
                                             rf.begin() - 1);
            j = std::clamp<std::size_t>(j, 1, m);
            for (auto i = static_cast<std::size_t>(from); i <= static_cast<std::size_t>(to); ++i) {
                const double xv = x[i];
                if (!(xv >= lowest && xv <= highest)) {
                    out[i] = NOT_COVERED;
                    continue;
                }
                while (j < m && rf[j + 1] <= xv)
                    ++j;
                while (j > 1 && rf[j] > xv)
                    --j;
                if (j == m || rf[j] == xv) {
                    out[i] = ry[j];
                    continue;
                }
                const double slope = (static_cast<double>(ry[j + 1]) - static_cast<double>(ry[j])) /
                                     (rf[j + 1] - rf[j]);
                out[i] = slope * (xv - rf[j]) + static_cast<double>(ry[j]);
            }
        });
}

namespace {

// The sums of points a..b about (m0, r0): four of each kind, so that the
// additions need not wait on each other (lane l takes points a + l, a + l + 4,
// ...), added up at the end.
FitTotals sum_points(std::span<const std::int32_t> main, std::span<const double> ref, double m0,
                     double r0, std::int64_t a, std::int64_t b) {
    FitSums h;
    const auto add = [&](int lane, std::size_t p) {
        const double r = ref[p];
        const bool covered = !std::isnan(r);
        const double dr = covered ? r - r0 : 0.0;
        const double dm = covered ? main[p] - m0 : 0.0;
        h.m[lane] += dm;
        h.r[lane] += dr;
        h.mr[lane] += dm * dr;
        h.rr[lane] += dr * dr;
        h.n[lane] += covered ? 1.0 : 0.0;
    };
    std::int64_t i = a;
#if defined(__SSE2__)
    // Lanes 0 and 1 in one register, 2 and 3 in another: the very sums of
    // the loop below, two points an instruction.
    const __m128d shift_r = _mm_set1_pd(r0), shift_m = _mm_set1_pd(m0), one = _mm_set1_pd(1.0);
    __m128d m01 = _mm_setzero_pd(), m23 = m01, r01 = m01, r23 = m01, mr01 = m01, mr23 = m01,
            rr01 = m01, rr23 = m01, n01 = m01, n23 = m01;
    const auto pair = [&](std::size_t p, __m128d& sm, __m128d& sr, __m128d& smr, __m128d& srr,
                          __m128d& sn) {
        const __m128d r = _mm_loadu_pd(&ref[p]);
        const __m128d covered = _mm_cmpord_pd(r, r);
        const __m128i mi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&main[p]));
        const __m128d dr = _mm_and_pd(covered, _mm_sub_pd(r, shift_r));
        const __m128d dm = _mm_and_pd(covered, _mm_sub_pd(_mm_cvtepi32_pd(mi), shift_m));
        sm = _mm_add_pd(sm, dm);
        sr = _mm_add_pd(sr, dr);
        smr = _mm_add_pd(smr, _mm_mul_pd(dm, dr));
        srr = _mm_add_pd(srr, _mm_mul_pd(dr, dr));
        sn = _mm_add_pd(sn, _mm_and_pd(covered, one));
    };
    for (; i + 3 <= b; i += 4) {
        pair(static_cast<std::size_t>(i), m01, r01, mr01, rr01, n01);
        pair(static_cast<std::size_t>(i + 2), m23, r23, mr23, rr23, n23);
    }
    _mm_storeu_pd(h.m, m01);
    _mm_storeu_pd(h.m + 2, m23);
    _mm_storeu_pd(h.r, r01);
    _mm_storeu_pd(h.r + 2, r23);
    _mm_storeu_pd(h.mr, mr01);
    _mm_storeu_pd(h.mr + 2, mr23);
    _mm_storeu_pd(h.rr, rr01);
    _mm_storeu_pd(h.rr + 2, rr23);
    _mm_storeu_pd(h.n, n01);
    _mm_storeu_pd(h.n + 2, n23);
#endif
    for (; i + 3 <= b; i += 4)
        for (int lane = 0; lane < 4; ++lane)
            add(lane, static_cast<std::size_t>(i + lane));
    for (; i <= b; ++i)
        add(0, static_cast<std::size_t>(i));
    return {lanes(h.m), lanes(h.r), lanes(h.mr), lanes(h.rr), lanes(h.n)};
}

void add_totals(FitTotals& to, const FitTotals& t) {
    to.m += t.m;
    to.r += t.r;
    to.mr += t.mr;
    to.rr += t.rr;
    to.n += t.n;
}

// Blocks b1..b2 (whole ones) into out[b - b1], their two halves side by side
// where it pays.
void sum_blocks(std::span<const std::int32_t> main, std::span<const double> ref, double m0,
                double r0, std::int64_t b1, std::int64_t b2, FitTotals* out) {
    const auto n = static_cast<std::int64_t>(main.size()) - 1;
    if (b2 < b1) return;
    const std::int64_t middle = b1 + (b2 - b1) / 2;
    in_two_halves((b2 - b1 + 1) * FIT_BLOCK, [&](int half) {
        for (std::int64_t b = half ? middle + 1 : b1; b <= (half ? b2 : middle); ++b)
            out[b - b1] =
                sum_points(main, ref, m0, r0, b * FIT_BLOCK + 1, std::min((b + 1) * FIT_BLOCK, n));
    });
}

// The pair's first covered point, whose values are the shift of every sum.
std::optional<std::size_t> first_covered(std::span<const double> ref) {
    for (std::size_t p = 1; p < ref.size(); ++p)
        if (!std::isnan(ref[p])) return p;
    return std::nullopt;
}

} // namespace

FitBlocks fit_blocks(std::span<const std::int32_t> main, std::span<const double> ref) {
    assert(main.size() == ref.size() && !main.empty());
    FitBlocks f;
    const auto from = first_covered(ref);
    if (!from) return f;
    f.covered = true;
    f.m0 = main[*from];
    f.r0 = ref[*from];
    const auto n = static_cast<std::int64_t>(main.size()) - 1;
    const std::int64_t count = (n + FIT_BLOCK - 1) / FIT_BLOCK;
    f.blocks.resize(static_cast<std::size_t>(count));
    if (count > 0) sum_blocks(main, ref, f.m0, f.r0, 0, count - 1, f.blocks.data());
    return f;
}

ScaleFit fit_scale(std::span<const std::int32_t> main, std::span<const double> ref,
                   std::int32_t first, std::int32_t last, const FitBlocks* blocks) {
    assert(main.size() == ref.size());
    ScaleFit fit;
    const auto n = static_cast<std::int64_t>(main.size()) - 1;
    first = std::max(first, std::int32_t{1});
    last = std::min(last, static_cast<std::int32_t>(n));
    if (first > last) return fit;
    double m0 = 0, r0 = 0;
    if (blocks) {
        assert(blocks->blocks.size() == static_cast<std::size_t>((n + FIT_BLOCK - 1) / FIT_BLOCK));
        if (!blocks->covered) return fit;
        m0 = blocks->m0;
        r0 = blocks->r0;
    } else {
        const auto from = first_covered(ref);
        if (!from) return fit;
        m0 = main[*from];
        r0 = ref[*from];
    }
    // The blocks that lie wholly within the range, and the points before and
    // after them.
    const std::int64_t bf = (first - 1) / FIT_BLOCK, bl = (last - 1) / FIT_BLOCK;
    const std::int64_t w1 = first == bf * FIT_BLOCK + 1 ? bf : bf + 1;
    const std::int64_t w2 = last == std::min((bl + 1) * FIT_BLOCK, n) ? bl : bl - 1;
    FitTotals t;
    if (w1 > w2) {
        t = sum_points(main, ref, m0, r0, first, last);
    } else {
        if (first <= w1 * FIT_BLOCK)
            add_totals(t, sum_points(main, ref, m0, r0, first, w1 * FIT_BLOCK));
        if (blocks) {
            for (std::int64_t b = w1; b <= w2; ++b)
                add_totals(t, blocks->blocks[static_cast<std::size_t>(b)]);
        } else {
            std::vector<FitTotals> whole(static_cast<std::size_t>(w2 - w1 + 1));
            sum_blocks(main, ref, m0, r0, w1, w2, whole.data());
            for (const FitTotals& b : whole)
                add_totals(t, b);
        }
        if ((w2 + 1) * FIT_BLOCK + 1 <= last)
            add_totals(t, sum_points(main, ref, m0, r0, (w2 + 1) * FIT_BLOCK + 1, last));
    }
    fit.points = static_cast<std::int64_t>(t.n);
    if (fit.points < 2) return fit;
    const double mean_m = t.m / t.n, mean_r = t.r / t.n;
    const double sxy = t.mr - t.n * mean_m * mean_r, sxx = t.rr - t.n * mean_r * mean_r;
    const double slope = sxy / sxx;
    if (!(sxx > 0) || !std::isfinite(slope)) return fit;
    fit.k = slope;
    fit.c = (m0 + mean_m) - slope * (r0 + mean_r);
    fit.ok = std::isfinite(fit.c);
    if (!fit.ok) fit.k = fit.c = 0;
    return fit;
}

std::int64_t subtract_reference(std::span<const std::int32_t> main, std::span<const double> ref,
                                double k, std::span<std::int32_t> out, std::int32_t first,
                                std::int32_t last) {
    assert(main.size() == ref.size() && out.size() == main.size());
    first = std::max(first, std::int32_t{1});
    last = std::min(last, static_cast<std::int32_t>(main.size()) - 1);
    std::int64_t sums[2] = {0, 0};
    over_two_halves(first, last, [&](int half, std::int64_t a, std::int64_t b) {
        std::int64_t sum = 0;
        std::int64_t i = a;
#if defined(__SSE2__)
        // Two points at a time, as difference_at computes each: m where the
        // reference does not cover, else m - k x r held in range and
        // truncated toward zero. Taking a whole spectrum's difference reads
        // 36 MB, and one at a time the arithmetic, not the reading, set
        // the pace.
        const __m128d factor = _mm_set1_pd(k);
        const __m128d lowest = _mm_set1_pd(-2147483648.0), highest = _mm_set1_pd(2147483647.0);
        for (; i + 1 <= b; i += 2) {
            const auto p = static_cast<std::size_t>(i);
            const __m128d r = _mm_loadu_pd(&ref[p]);
            const __m128i mi = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&main[p]));
            const __m128d m = _mm_cvtepi32_pd(mi);
            const __m128d covered = _mm_cmpord_pd(r, r);
            const __m128d d =
                _mm_min_pd(_mm_max_pd(_mm_sub_pd(m, _mm_mul_pd(factor, r)), lowest), highest);
            // Where not covered, d is replaced by m, whose conversion is exact.
            const __m128d v = _mm_or_pd(_mm_and_pd(covered, d), _mm_andnot_pd(covered, m));
            const __m128i q = _mm_cvttpd_epi32(v);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(&out[p]), q);
            sum += static_cast<std::int64_t>(out[p]) + out[p + 1];
        }
#endif
        for (; i <= b; ++i) {
            const auto p = static_cast<std::size_t>(i);
            out[p] = difference_at(main[p], ref[p], k);
            sum += out[p];
        }
        sums[half] = sum;
    });
    return sums[0] + sums[1];
}

DifferenceExtremes difference_extremes(std::span<const std::int32_t> main,
                                       std::span<const double> ref, double k, std::int32_t first,
                                       std::int32_t last) {
    assert(main.size() == ref.size() && first >= 1 && first <= last &&
           static_cast<std::size_t>(last) < main.size());
    DifferenceExtremes e;
    const auto at = [&](std::int32_t i) {
        return difference_at(main[static_cast<std::size_t>(i)], ref[static_cast<std::size_t>(i)],
                             k);
    };
    e.first = at(first);
    e.last = at(last);
    // The extremes of the differences before they become intensities: the
    // truncation and the holding in range keep their order, so they are the
    // extremes of the intensities, and only two are converted.
    const auto unrounded = [&](std::size_t p) {
        const double r = ref[p];
        return std::isnan(r) ? static_cast<double>(main[p]) : main[p] - k * r;
    };
    double low = unrounded(static_cast<std::size_t>(first)), high = low;
    std::int32_t i = first + 1;
#if defined(__SSE2__)
    if (last - i >= 8) {
        const __m128d factor = _mm_set1_pd(k);
        __m128d lo = _mm_set1_pd(low), hi = lo;
        for (; i + 1 <= last; i += 2) {
            const auto p = static_cast<std::size_t>(i);
            const __m128d r = _mm_loadu_pd(&ref[p]);
            const __m128d m =
                _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&main[p])));
            const __m128d covered = _mm_cmpord_pd(r, r);
            const __m128d d = _mm_sub_pd(m, _mm_mul_pd(factor, r));
            const __m128d v = _mm_or_pd(_mm_and_pd(covered, d), _mm_andnot_pd(covered, m));
            lo = _mm_min_pd(lo, v);
            hi = _mm_max_pd(hi, v);
        }
        double l[2], h[2];
        _mm_storeu_pd(l, lo);
        _mm_storeu_pd(h, hi);
        low = std::min(l[0], l[1]);
        high = std::max(h[0], h[1]);
    }
#endif
    for (; i <= last; ++i) {
        const double v = unrounded(static_cast<std::size_t>(i));
        low = std::min(low, v);
        high = std::max(high, v);
    }
    e.low = held_intensity(low);
    e.high = held_intensity(high);
    return e;
}

void difference_extremes(std::span<const std::int32_t> main, std::span<const double> ref, double k,
                         std::span<const PointSpan> spans, std::span<DifferenceExtremes> out) {
    assert(out.size() == spans.size());
    if (spans.empty()) return;
    const std::size_t split = half_of_the_points(spans);
    in_two_halves(spans.back().last - spans.front().first + 1, [&](int half) {
        for (std::size_t s = half ? split : 0; s < (half ? spans.size() : split); ++s)
            out[s] = difference_extremes(main, ref, k, spans[s].first, spans[s].last);
    });
}

std::int64_t covered_points(std::span<const double> ref, std::int32_t first, std::int32_t last) {
    first = std::max(first, std::int32_t{1});
    last = std::min(last, static_cast<std::int32_t>(ref.size()) - 1);
    std::int64_t n = 0;
    for (std::int32_t i = first; i <= last; ++i)
        n += std::isnan(ref[static_cast<std::size_t>(i)]) ? 0 : 1;
    return n;
}

} // namespace korax

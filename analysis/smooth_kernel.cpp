// The smoothing convolution itself: coefficients and one pass over a spectrum.
// Every output point is the integer that the plain order of its 2m + 1
// additions in double precision gives: the least-squares table from moving
// sums with a certified bound (most points), or that order itself (points on
// the edge of an integer, other tables, intensities of 2^29 or more), in
// vector and threaded code that gives the same bits as a plain loop.
#include "analysis/smooth.h"

#include <immintrin.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace korax {

void smoothing_coefficients(int m, std::span<float> coef) {
    assert(m >= 1 && coef.size() >= std::size_t(2 * m + 1));
    const double md = m;
    const float big_m = static_cast<float>(3.0 / ((2 * md - 1) * (2 * md + 1) * (2 * md + 3)));
    const float p = static_cast<float>(3 * md * md + 3 * md - 1);
    for (int k = -m; k <= m; ++k)
        coef[std::size_t(k + m)] =
            static_cast<float>(double(big_m) * (double(p) - 5.0 * double(k) * double(k)));
}

std::int32_t mirror_index(std::int64_t j, std::int32_t n) {
    assert(n >= 1);
    // The mirrored sequence 1..n, n..1, 1..n ... repeats with period 2n.
    const std::int64_t period = 2 * std::int64_t(n);
    std::int64_t p = (j - 1) % period;
    if (p < 0) p += period;
    return static_cast<std::int32_t>(p < n ? p + 1 : period - p);
}

namespace {

// The input as doubles with the mirrored ends laid out around it: ext[t] is
// position t - m + 1, so output point i reads ext[i - 1 .. i - 1 + 2m] straight.
// Kept for the run: the largest spectrum needs 24 MB and is not reallocated.
// One per thread, so that the batch commands can smooth several spectra at once.
std::vector<double>& extended_buffer() {
    thread_local std::vector<double> buffer;
    return buffer;
}

typedef double v4df __attribute__((vector_size(32)));

// Output points first..last (0-based into `out`, point i + 1) from `ext`, in
// blocks of ACC independent vector sums (enough of them to hide the latency of
// the additions), then one point at a time. Each lane does the same multiply
// then add as the plain loop, in the same order; only the lane width differs
// between the instruction sets below. A macro rather than a template, so that
// each copy is compiled for its own instruction set.
#define KORAX_CONVOLVE_BODY(VEC, LANES, ACC)                                                       \
    constexpr int block = (LANES) * (ACC);                                                         \
    std::int64_t i = first;                                                                        \
    alignas(64) double sums[block];                                                                \
    for (; i + block <= last + 1; i += block) {                                                    \
        VEC acc[ACC];                                                                              \
        for (auto& a : acc)                                                                        \
            a = VEC{};                                                                             \
        const double* base = ext + i;                                                              \
        for (int t = 0; t < taps; ++t) {                                                           \
            VEC cv;                                                                                \
            for (int l = 0; l < (LANES); ++l)                                                      \
                cv[l] = c[t];                                                                      \
            for (int b = 0; b < (ACC); ++b) {                                                      \
                VEC x;                                                                             \
                std::memcpy(&x, base + t + (LANES)*b, sizeof x);                                   \
                acc[b] += x * cv;                                                                  \
            }                                                                                      \
        }                                                                                          \
        std::memcpy(sums, acc, sizeof sums);                                                       \
        for (int b = 0; b < block; ++b)                                                            \
            out[i + b] = saturate_intensity(sums[b]);                                              \
    }                                                                                              \
    for (; i <= last; ++i) {                                                                       \
        double sum = 0;                                                                            \
        for (int t = 0; t < taps; ++t)                                                             \
            sum += ext[i + t] * c[t];                                                              \
        out[i] = saturate_intensity(sum);                                                          \
    }

__attribute__((target("avx2"))) void convolve_avx2(const double* ext, const double* c, int taps,
                                                   std::int32_t* out, std::int64_t first,
                                                   std::int64_t last) {
    KORAX_CONVOLVE_BODY(v4df, 4, 8)
}

void convolve_plain(const double* ext, const double* c, int taps, std::int32_t* out,
                    std::int64_t first, std::int64_t last) {
    KORAX_CONVOLVE_BODY(v4df, 4, 4)
}

#undef KORAX_CONVOLVE_BODY

// A fused multiply-add rounds once, where the plain loop rounds the product and
// then the sum. The two agree bit for bit whenever every product is exact: an
// intensity below 2^29 in magnitude times a single-precision coefficient needs
// at most 29 + 24 = 53 significant bits. smooth_pass_threads checks that bound
// before choosing this kernel; it halves the instructions of the inner loop.
__attribute__((target("avx2,fma"))) void convolve_fma(const double* ext, const double* c, int taps,
                                                      std::int32_t* out, std::int64_t first,
                                                      std::int64_t last) {
    constexpr int acc_count = 8;
    constexpr int block = 4 * acc_count;
    std::int64_t i = first;
    alignas(64) double sums[block];
    for (; i + block <= last + 1; i += block) {
        __m256d acc[acc_count];
        for (auto& a : acc)
            a = _mm256_setzero_pd();
        const double* base = ext + i;
        for (int t = 0; t < taps; ++t) {
            const __m256d cv = _mm256_set1_pd(c[t]);
            for (int b = 0; b < acc_count; ++b)
                acc[b] = _mm256_fmadd_pd(_mm256_loadu_pd(base + t + 4 * b), cv, acc[b]);
        }
        for (int b = 0; b < acc_count; ++b)
            _mm256_store_pd(sums + 4 * b, acc[b]);
        for (int b = 0; b < block; ++b)
            out[i + b] = saturate_intensity(sums[b]);
    }
    for (; i <= last; ++i) {
        double sum = 0;
        for (int t = 0; t < taps; ++t)
            sum += ext[i + t] * c[t];
        out[i] = saturate_intensity(sum);
    }
}

using Convolve = void (*)(const double*, const double*, int, std::int32_t*, std::int64_t,
                          std::int64_t);

// Chosen once from what the processor offers; never -march=native, so the same
// program runs everywhere and gives the same bits everywhere. (512-bit vectors
// were measured no faster here: a multiplication and an addition per lane and
// tap bound the time.)
Convolve convolve_range(bool products_exact) {
    static const bool fma = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    static const Convolve chosen = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) return &convolve_avx2;
        return &convolve_plain;
    }();
    return products_exact && fma ? &convolve_fma : chosen;
}

// True when every value is below 2^29 in magnitude, so that its product with a
// single-precision coefficient is exact in double precision.
bool products_are_exact(const double* v, std::size_t n) {
    constexpr double bound = 536870912.0; // 2^29
    bool exact = true;
    for (std::size_t i = 0; i < n; ++i)
        exact &= std::fabs(v[i]) < bound;
    return exact;
}

// ---- wide windows from moving sums ----
//
// The coefficients are M (P - 5k^2), each rounded to single precision. With
// S0, S2 the sums of x and of k^2 x over the window, the exact sum of the
// products is M (P S0 - 5 S2) plus the sum of each coefficient's rounding
// times its point; the first part comes from integer sums updated point by
// point, whatever the width, and the second is small and bounded. When the
// whole band in which the sum of the plain order must lie truncates to one
// integer, that integer is the plain order's; the few points whose band
// straddles an integer are summed in the plain order. So the result is the
// plain loop's to the bit, at a cost that does not grow with the window.

// The narrowest window smoothed from moving sums.
constexpr int MOVING_SUM_TAPS = 31;

struct MovingSumFilter {
    int m = 0;
    double big_m = 0;     // M, a single-precision value
    std::int64_t p = 0;   // P, an integer
    double delta_sum = 0; // sum over k of |coefficient - M (P - 5k^2)|
    double delta_max = 0; // the largest of those
    double rounding = 0;  // the other roundings, per unit of the largest |x|
    bool usable = false;
};

// The filter of `coef` when it is the window's own least-squares table (the
// only table SMOOTH builds); otherwise not usable and the plain kernel runs.
MovingSumFilter moving_sum_filter(std::span<const float> coef) {
    MovingSumFilter f;
    const int m = static_cast<int>(coef.size()) / 2;
    if (m < 1) return f;
    const double md = m;
    const float big_m = static_cast<float>(3.0 / ((2 * md - 1) * (2 * md + 1) * (2 * md + 3)));
    const float p = static_cast<float>(3 * md * md + 3 * md - 1);
    f.m = m;
    f.big_m = big_m;
    f.p = static_cast<std::int64_t>(p);
    double abs_r = 0, abs_c = 0;
    for (int k = -m; k <= m; ++k) {
        // M is single precision and P - 5k^2 an integer of at most 18 bits:
        // their product is exact in double, and so is its difference from
        // the coefficient (the two lie within a factor of two).
        const double r = double(big_m) * (double(p) - 5.0 * double(k) * double(k));
        const double c = coef[std::size_t(k + m)];
        if (static_cast<float>(r) != coef[std::size_t(k + m)]) return f;
        const double d = std::fabs(c - r);
        f.delta_sum += d;
        f.delta_max = std::max(f.delta_max, d);
        abs_r += std::fabs(r);
        abs_c += std::fabs(c);
    }
    constexpr double u = 0x1p-53;
    const double taps = 2 * md + 1;
    // The integer sum to double and its product with M (two roundings of at
    // most |M I| <= sum |r| max|x|), and the plain order's own 2m + 1
    // additions (at most taps u sum |c x|).
    f.rounding = 2.01 * u * abs_r + 1.01 * taps * u * abs_c;
    f.usable = true;
    return f;
}

// Points i of `points` summed in the plain order, eight at a time so that
// their additions overlap; the window of a point near an end is gathered
// through the mirror first.
void plain_points(const std::int32_t* in, std::int32_t n, int m, const double* c,
                  const std::int32_t* points, int count, std::int32_t* out) {
    const int taps = 2 * m + 1;
    constexpr int group = 8;
    for (int g = 0; g < count; g += group) {
        const int size = std::min(group, count - g);
        std::int32_t gathered[group][501];
        const std::int32_t* window[group];
        for (int l = 0; l < size; ++l) {
            const std::int32_t i = points[g + l];
            if (i - m >= 1 && i + m <= n) {
                window[l] = in + (i - m);
            } else {
                for (int t = 0; t < taps; ++t)
                    gathered[l][t] = in[mirror_index(std::int64_t(i) - m + t, n)];
                window[l] = gathered[l];
            }
        }
        double sum[group] = {};
        for (int t = 0; t < taps; ++t)
            for (int l = 0; l < size; ++l)
                sum[l] += double(window[l][t]) * c[t];
        for (int l = 0; l < size; ++l)
            out[points[g + l]] = saturate_intensity(sum[l]);
    }
}

// Output points first..last (1-based) of a pass from `in` (1-based, n
// points, every |x| <= largest < 2^29) into `out`.
void moving_sum_range(const std::int32_t* in, std::int32_t n, const MovingSumFilter& f,
                      const double* c, double largest, std::int32_t* out, std::int32_t first,
                      std::int32_t last) {
    const int m = f.m;
    const auto read = [&](std::int64_t j) {
        return std::int64_t(in[j >= 1 && j <= n ? j : mirror_index(j, n)]);
    };
    std::int64_t s0 = 0, s1 = 0, s2 = 0, a0 = 0;
    for (int k = -m; k <= m; ++k) {
        const std::int64_t x = read(std::int64_t(first) + k);
        s0 += x;
        s1 += k * x;
        s2 += std::int64_t(k) * k * x;
        a0 += x < 0 ? -x : x;
    }
    // The band is widened fourfold over the bounds, which covers the
    // roundings of the band's own arithmetic.
    const double global = 4 * (f.delta_sum + f.rounding) * largest;
    const double local = 4 * f.delta_max;
    const double fixed = 4 * f.rounding * largest;
    const std::int64_t mm = m, m1 = m + 1;
    constexpr int pending_size = 64;
    std::int32_t pending[pending_size];
    int count = 0;
    // Output i, then the window moved on to i + 1 from the points that leave
    // and enter it.
    const auto step = [&](std::int32_t i, std::int64_t xo, std::int64_t xn) {
        const double a = f.big_m * double(f.p * s0 - 5 * s2);
        const double band = std::min(global, local * double(a0) + fixed);
        const double lo = a - band, hi = a + band;
        bool sure = false;
        if (lo > -2147483648.0 && hi < 2147483648.0) {
            const auto t = static_cast<std::int32_t>(lo);
            sure = t == static_cast<std::int32_t>(hi);
            out[i] = t;
        }
        if (!sure) {
            pending[count++] = i;
            if (count == pending_size) {
                plain_points(in, n, m, c, pending, count, out);
                count = 0;
            }
        }
        // Every offset k becomes k - 1.
        const std::int64_t s1_out = s1 + mm * xo + m1 * xn; // sum of k x over i-m+1..i+m+1
        const std::int64_t s0_new = s0 - xo + xn;
        s2 = s2 - mm * mm * xo + m1 * m1 * xn - 2 * s1_out + s0_new;
        s1 = s1_out - s0_new;
        s0 = s0_new;
        a0 += (xn < 0 ? -xn : xn) - (xo < 0 ? -xo : xo);
    };
    // Straight reads while the window and the next one lie inside 1..n.
    const std::int32_t inner_first = std::max(first, m + 1);
    const std::int32_t inner_last = std::min(last, n - m - 1);
    std::int32_t i = first;
    for (; i <= last && i < inner_first; ++i)
        step(i, read(std::int64_t(i) - m), read(std::int64_t(i) + m + 1));
    for (; i <= inner_last; ++i)
        step(i, in[i - m], in[i + m + 1]);
    for (; i <= last; ++i)
        step(i, read(std::int64_t(i) - m), read(std::int64_t(i) + m + 1));
    plain_points(in, n, m, c, pending, count, out);
}

// Runs job(first, last) over 1..n split among `threads` (the calling thread
// takes the first share).
template <class Job> void split_points(std::int32_t n, int threads, const Job& job) {
    if (threads <= 1) {
        job(std::int32_t(1), n);
        return;
    }
    std::vector<std::thread> pool;
    const std::int64_t chunk = (std::int64_t(n) + threads - 1) / threads;
    for (int k = 1; k < threads; ++k) {
        const std::int64_t first = 1 + k * chunk;
        const std::int64_t last = std::min<std::int64_t>(n, first + chunk - 1);
        if (first > last) break;
        pool.emplace_back(job, std::int32_t(first), std::int32_t(last));
    }
    job(std::int32_t(1), std::int32_t(std::min<std::int64_t>(n, chunk)));
    for (auto& t : pool)
        t.join();
}

} // namespace

void smooth_pass_threads(std::span<const std::int32_t> in, std::span<std::int32_t> out,
                         std::int32_t n, std::span<const float> coef, int threads) {
    assert(n >= 1 && in.size() > std::size_t(n) && out.size() > std::size_t(n));
    assert(coef.size() % 2 == 1 && "a smoothing window has an odd number of points");
    assert(in.data() != out.data() && "a pass needs distinct source and target");
    const int taps = static_cast<int>(coef.size());
    const int m = taps / 2;

    double c[501 + 1];
    assert(taps <= 501);
    for (int t = 0; t < taps; ++t)
        c[t] = coef[std::size_t(t)];
    threads = std::max(1, std::min(threads, 16));

    // Every read lies in 1..n; the largest magnitude bounds every sum.
    std::int32_t lowest = in[1], highest = in[1];
    for (std::int32_t i = 2; i <= n; ++i) {
        lowest = std::min(lowest, in[std::size_t(i)]);
        highest = std::max(highest, in[std::size_t(i)]);
    }
    const double largest = std::max(std::fabs(double(lowest)), std::fabs(double(highest)));
    const MovingSumFilter filter = moving_sum_filter(coef);
    // Below 2^29 every product is exact and the integer sums fit 64 bits.
    // Narrow windows stay with the plain kernel: it is as fast there, and
    // their sums are multiples of 1 / ((2m - 1)(2m + 1)(2m + 3) / 3), which
    // land exactly on an integer often enough (1 in 35 for 5 points) that
    // the points left to the plain order would cost more than they save.
    if (filter.usable && largest < 536870912.0 && taps >= MOVING_SUM_TAPS) {
        // The work no longer grows with the window: threads pay from about
        // a hundred thousand points on.
        if (n < 100000) threads = 1;
        split_points(n, threads, [&](std::int32_t first, std::int32_t last) {
            moving_sum_range(in.data(), n, filter, c, largest, out.data(), first, last);
        });
        return;
    }

    auto& ext = extended_buffer();
    const std::size_t need = std::size_t(n) + 2 * std::size_t(m);
    if (ext.size() < need) ext.resize(need);
    // Only the 2m mirrored positions need the index mapping; the rest is a copy.
    for (int t = 0; t < m; ++t) {
        ext[std::size_t(t)] = in[std::size_t(mirror_index(t - m + 1, n))];
        ext[std::size_t(n) + std::size_t(m + t)] = in[std::size_t(mirror_index(n + 1 + t, n))];
    }
    for (std::int32_t i = 1; i <= n; ++i)
        ext[std::size_t(i - 1 + m)] = in[std::size_t(i)];

    const Convolve convolve = convolve_range(products_are_exact(ext.data(), need));
    std::int32_t* target = out.data() + 1;
    // Below about a million multiply-adds a thread costs more than it saves.
    if (double(n) * taps < 1e6) threads = 1;
    split_points(n, threads, [&](std::int32_t first, std::int32_t last) {
        convolve(ext.data(), c, taps, target, first - 1, last - 1);
    });
}

void smooth_pass(std::span<const std::int32_t> in, std::span<std::int32_t> out, std::int32_t n,
                 std::span<const float> coef) {
    static const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    smooth_pass_threads(in, out, n, coef, cores);
}

} // namespace korax

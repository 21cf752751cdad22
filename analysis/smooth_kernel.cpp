// The smoothing convolution itself: coefficients and one pass over a spectrum.
// Every output point keeps the plain order of its 2m + 1 additions in double
// precision, so the vector and threaded code give the same bits as a plain loop.
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

std::int32_t saturate_intensity(double value) {
    if (std::isnan(value)) return 0;
    if (value <= -2147483649.0) return INT32_MIN;
    if (value >= 2147483648.0) return INT32_MAX;
    return static_cast<std::int32_t>(value);
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
    threads = std::max(1, std::min(threads, 16));
    // Below about a million multiply-adds a thread costs more than it saves.
    if (double(n) * taps < 1e6) threads = 1;
    if (threads == 1) {
        convolve(ext.data(), c, taps, target, 0, n - 1);
        return;
    }
    std::vector<std::thread> pool;
    const std::int64_t chunk = (std::int64_t(n) + threads - 1) / threads;
    for (int k = 1; k < threads; ++k) {
        const std::int64_t first = k * chunk;
        const std::int64_t last = std::min<std::int64_t>(n - 1, first + chunk - 1);
        if (first > last) break;
        pool.emplace_back(convolve, ext.data(), c, taps, target, first, last);
    }
    convolve(ext.data(), c, taps, target, 0, std::min<std::int64_t>(n - 1, chunk - 1));
    for (auto& t : pool)
        t.join();
}

void smooth_pass(std::span<const std::int32_t> in, std::span<std::int32_t> out, std::int32_t n,
                 std::span<const float> coef) {
    static const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    smooth_pass_threads(in, out, n, coef, cores);
}

} // namespace korax

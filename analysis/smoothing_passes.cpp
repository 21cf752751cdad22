// The order of the passes of smoothing and baseline subtraction; the
// convolution itself is smooth_kernel.cpp's.
#include "analysis/smoothing_passes.h"

#include "analysis/smooth.h"

#include <algorithm>
#include <cstdint>

namespace korax {

namespace {

constexpr int BASELINE_MODE = 2;

void copy_points(std::span<const std::int32_t> from, std::span<std::int32_t> to, std::int32_t n) {
    std::copy(from.begin() + 1, from.begin() + 1 + n, to.begin() + 1);
}

void pass(std::span<const std::int32_t> in, std::span<std::int32_t> out, std::int32_t n,
          const SmoothingFilter& filter, int threads) {
    if (threads == ALL_CORES)
        smooth_pass(in, out, n, filter.coefficients());
    else
        smooth_pass_threads(in, out, n, filter.coefficients(), threads);
}

bool go_on(const BeforePass& before, int p) {
    return !before || before(p);
}

} // namespace

SmoothingWindow smoothing_window(int mode, bool fine, std::int32_t nsmoot) {
    SmoothingWindow win;
    if (mode == BASELINE_MODE && fine) {
        // The preliminary baseline uses about twice the typed interval.
        win.m = nsmoot;
        win.n = 2 * win.m + 1;
        if (win.n > 500) {
            win.n = 501;
            win.m = 250;
        }
    } else {
        win.n = nsmoot;
        win.m = nsmoot / 2;
    }
    return win;
}

SmoothingFilter::SmoothingFilter(const SmoothingWindow& window)
    : m_length(static_cast<std::size_t>(window.n)) {
    smoothing_coefficients(window.m, m_table);
}

void smooth_once(std::span<std::int32_t> intens, std::span<std::int32_t> work, std::int32_t n,
                 const SmoothingFilter& filter, int threads) {
    copy_points(intens, work, n);
    pass(work, intens, n, filter, threads);
}

namespace {

// The passes alternate between the two arrays instead of copying the result
// back before every pass: with an odd number of them the last lands where the
// first wrote.
bool alternating_passes(std::span<std::int32_t> from, std::span<std::int32_t> to, std::int32_t n,
                        const SmoothingFilter& filter, int threads, const BeforePass& before) {
    static_assert(BASELINE_PASSES % 2 == 1);
    for (int p = 1; p <= BASELINE_PASSES; ++p) {
        if (!go_on(before, p)) return false;
        if (p % 2 == 1)
            pass(from, to, n, filter, threads);
        else
            pass(to, from, n, filter, threads);
    }
    return true;
}

} // namespace

bool baseline_passes(std::span<std::int32_t> intens, std::span<std::int32_t> work, std::int32_t n,
                     const SmoothingFilter& filter, int threads, const BeforePass& before) {
    return alternating_passes(intens, work, n, filter, threads, before);
}

bool preliminary_baseline(std::span<const std::int32_t> intens, std::span<std::int32_t> work,
                          std::span<std::int32_t> baslin, std::int32_t n,
                          const SmoothingFilter& filter, int threads, const BeforePass& before) {
    copy_points(intens, work, n);
    return alternating_passes(work, baslin, n, filter, threads, before);
}

bool clipped_baseline(std::span<std::int32_t> intens, std::span<std::int32_t> work,
                      std::span<const std::int32_t> baslin, std::int32_t n, std::int32_t cutlo,
                      std::int32_t cuthi, const SmoothingFilter& filter, int threads,
                      const BeforePass& before) {
    if (!go_on(before, 1)) return false;
    // Clipped in place: the passes overwrite intens anyway. Points below the
    // lower edge are raised to it.
    for (std::int32_t i = 1; i <= n; ++i) {
        const auto k = std::size_t(i);
        const std::int64_t lo = std::int64_t(baslin[k]) + cutlo;
        const std::int64_t hi = std::int64_t(baslin[k]) + cuthi;
        intens[k] = saturate_intensity(double(std::max(lo, std::min<std::int64_t>(intens[k], hi))));
    }
    return alternating_passes(intens, work, n, filter, threads,
                              [&](int p) { return p == 1 || go_on(before, p); });
}

void subtract_baseline(std::span<const std::int32_t> original, std::span<std::int32_t> intens,
                       std::span<const std::int32_t> baseline, std::int32_t n) {
    for (std::int32_t i = 1; i <= n; ++i) {
        const auto k = std::size_t(i);
        intens[k] = saturate_intensity(double(std::int64_t(original[k]) - baseline[k]));
    }
}

double lift_to_reference(std::span<std::int32_t> intens, std::int32_t n, double yref) {
    double sum = 0;
    for (std::int32_t i = 1; i <= n; ++i) {
        const auto k = std::size_t(i);
        intens[k] = saturate_intensity(double(intens[k]) + yref);
        sum += intens[k];
    }
    return n > 0 ? sum / n : 0;
}

} // namespace korax

// Smoothing at full size: one pass of a 501-point window over 3,000,000 points
// on one thread and on every core, and the five-pass baseline subtraction as the
// B key runs it. Prints the median of several runs in ms.
#include "analysis/smooth.h"
#include "analysis/smoothing_passes.h"
#include "bench/timing.h"
#include "spectrum/store.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

namespace {

// Median wall time of several runs; `cpu_ms` gets the thread's processor time.
template <class F> double median_ms(int runs, F work, double* cpu_ms = nullptr) {
    const korax::bench::Timing t = korax::bench::time_runs(runs, work);
    if (cpu_ms) *cpu_ms = t.cpu_ms;
    return t.median_ms;
}

} // namespace

int main() {
    using namespace korax;
    constexpr std::int32_t n = MAXPTS;
    std::vector<std::int32_t> in(std::size_t(n) + 1), out(std::size_t(n) + 1);
    std::mt19937 random(1);
    std::uniform_int_distribution<std::int32_t> value(-30000, 30000);
    for (std::int32_t i = 1; i <= n; ++i)
        in[std::size_t(i)] = value(random);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    for (int window : {5, 25, 101, 501}) {
        std::vector<float> coef(static_cast<std::size_t>(window));
        smoothing_coefficients(window / 2, coef);
        double cpu = 0;
        const double one = median_ms(
            5, [&] { smooth_pass_threads(in, out, n, coef, 1); }, &cpu);
        const double all = median_ms(5, [&] { smooth_pass_threads(in, out, n, coef, cores); });
        std::printf("one pass, window %3d, %d points: %7.1f ms on 1 thread (cpu %7.1f ms), "
                    "%7.1f ms on %d\n",
                    window, n, one, cpu, all, cores);
    }

    // The B key at its largest: five passes through the store, as SMOOTH runs them.
    auto& s = store();
    s.NPTS = n;
    std::copy(in.begin(), in.end(), s.ORIGNL.begin());
    const SmoothingFilter filter(smoothing_window(2, false, 501));
    const double five = median_ms(3, [&] {
        std::copy(s.ORIGNL.begin(), s.ORIGNL.begin() + n + 1, s.INTENS.begin());
        if (!baseline_passes(s.INTENS, s.WORK, n, filter, ALL_CORES)) std::abort();
        subtract_baseline(s.ORIGNL, s.INTENS, s.WORK, n);
    });
    std::printf("baseline subtraction, 5 passes of 501 points over %d points: %8.1f ms\n", n, five);
    return 0;
}

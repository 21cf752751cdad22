// Timing for the benchmarks: the median wall time of several runs of a piece of
// work, and the processor time the calling thread spent, which shows what the
// work itself cost on a machine that is busy with other things.
#pragma once

#include "base/safe_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace korax::bench {

inline double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1e3 * double(t.tv_sec) + 1e-6 * double(t.tv_nsec);
}

struct Timing {
    double median_ms = 0, min_ms = 0, max_ms = 0; // wall time
    double cpu_ms = 0;                            // median processor time of the thread
};

template <class F> Timing time_runs(int runs, F work) {
    std::vector<double> ms, cpu;
    for (int run = 0; run < runs; ++run) {
        const double c0 = thread_cpu_ms();
        const auto t0 = std::chrono::steady_clock::now();
        work();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        cpu.push_back(thread_cpu_ms() - c0);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    return {ms[ms.size() / 2], ms.front(), ms.back(), cpu[cpu.size() / 2]};
}

// A benchmark that cannot write its file has nothing to measure.
[[noreturn]] inline void bench_failed(const SafeFile& file) {
    std::fprintf(stderr, "cannot write %s: %s\n", file.path().c_str(), file.error_text().c_str());
    std::exit(1);
}

} // namespace korax::bench

// PEAKFINDER over a whole 3,000,000-point spectrum with 7 fitting points: the
// scan, the fits, the half-height crossings and the results file put in place.
// Run twice: with a baseline near the data, and with one far below it, where
// every half-height search would run to the end of the range if unbounded.
#include "analysis/peak_search.h"
#include "base/safe_file.h"
#include "bench/timing.h"
#include "spectrum/store.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

namespace {} // namespace

int main() {
    using namespace korax;
    auto& s = store();
    s.NPTS = MAXPTS;
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0, 20);
    std::uniform_real_distribution<double> height(800, 5000);
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        s.FREQ[std::size_t(i)] = 10000 + 0.01 * (i - 1);
        s.INTENS[std::size_t(i)] = static_cast<std::int32_t>(noise(random));
    }
    // A line about every 300 points, 6 points wide at half height.
    for (std::int32_t centre = 200; centre + 50 < s.NPTS; centre += 300) {
        const double h = height(random);
        for (std::int32_t k = -40; k <= 40; ++k)
            s.INTENS[std::size_t(centre + k)] +=
                static_cast<std::int32_t>(h / (1 + (k / 3.0) * (k / 3.0)));
    }
    s.FNAME = "bench.001";
    const std::string path =
        (std::filesystem::temp_directory_path() / "korax_peakfinder_bench.txt").string();

    for (std::int16_t baseline : {std::int16_t(0), std::int16_t(-30000)}) {
        std::int32_t lines = 0;
        const bench::Timing t = bench::time_runs(7, [&] {
            PeakSearchSettings st;
            st.start = 1;
            st.end = s.NPTS;
            st.cutoff = 500;
            st.baseline = baseline;
            st.nfit = 7;
            st.height = 5000;
            st.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
            std::string text = results_head(s.FNAME, st.cutoff, st.baseline, st.nfit);
            text.reserve(text.size() + std::size_t(80) * 11000);
            const auto totals = search_lines(s.FREQ, s.INTENS, s.NPTS, st, text);
            text += results_summary(totals);
            SafeFile file;
            if (file.open(path, OpenMode::Unknown) != SafeFile::Status::Ok)
                bench::bench_failed(file);
            file.write(text);
            if (!file.commit()) bench::bench_failed(file);
            lines = totals.count;
        });
        std::printf(
            "PEAKFINDER, %d points, NFIT 7, baseline %6d: %d lines, %7.1f ms (cpu %7.1f ms)\n",
            s.NPTS, baseline, lines, t.median_ms, t.cpu_ms);
    }
    std::filesystem::remove(path);
    return 0;
}

// Writing the GLE data file of a full 3,000,000-point spectrum: formatting every
// point as "%12.4f%9.4f" plus CR LF and putting the file in place through
// SafeFile (flush and sync included). Prints the median of several runs.
#include "base/safe_file.h"
#include "bench/timing.h"
#include "output/gleout.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

int main() {
    using namespace korax;
    constexpr std::size_t points = 3000000;
    std::vector<double> freq(points);
    std::vector<std::int32_t> intens(points);
    for (std::size_t i = 0; i < points; ++i) {
        freq[i] = 12000.0 + 0.0123 * static_cast<double>(i);
        intens[i] = static_cast<std::int32_t>(20000.0 * std::sin(0.001 * static_cast<double>(i)));
    }
    const std::string path =
        (std::filesystem::temp_directory_path() / "korax_gledata_bench.dat").string();

    constexpr int runs = 7;
    // Wall time is what the operator waits; processor time shows what the
    // machine's other load did to it.
    std::size_t bytes = 0;
    const bench::Timing t = bench::time_runs(runs, [&] {
        SafeFile file;
        if (file.open(path, OpenMode::Unknown) != SafeFile::Status::Ok) {
            bench::bench_failed(file);
        }
        bytes = 0;
        gle_data_text("bench.001", freq, intens, freq.front(), freq.back(), -20000, 20000,
                      [&](std::string_view text) {
                          file.write(text);
                          bytes += text.size();
                      });
        if (!file.commit()) {
            bench::bench_failed(file);
        }
    });
    std::filesystem::remove(path);
    std::printf("gle data file, %zu points, %zu bytes: median %.1f ms (min %.1f, max %.1f; "
                "processor %.1f ms) of %d runs\n",
                points, bytes, t.median_ms, t.min_ms, t.max_ms, t.cpu_ms, runs);
    return 0;
}

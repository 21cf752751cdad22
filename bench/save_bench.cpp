// Saving a full 3,000,000-point spectrum as a PELMO file: scaling, composing the
// 6 MB image and putting it in place through SafeFile (flush and sync included).
// Prints the median of several runs.
#include "base/safe_file.h"
#include "bench/timing.h"
#include "output/pelmo_image.h"
#include "spectrum/store.h"

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
    std::vector<std::int32_t> intens(points);
    for (std::size_t i = 0; i < points; ++i) // wider than 60000: the compressing path
        intens[i] = static_cast<std::int32_t>(90000.0 * std::sin(0.001 * static_cast<double>(i)));
    SpectrumHeader header;
    header.clear();
    const std::string path =
        (std::filesystem::temp_directory_path() / "korax_save_bench.001").string();

    constexpr int runs = 9;
    // Wall time is what the operator waits; processor time shows what the
    // machine's other load did to it.
    const bench::Timing t = bench::time_runs(runs, [&] {
        SafeFile file;
        if (file.open(path, OpenMode::Unknown) != SafeFile::Status::Ok) {
            bench::bench_failed(file);
        }
        const SaveScaling scaling = save_scaling(intens);
        file.write(pelmo_file_image(header, intens, 1000.0, 2000.0, 1.0 / 3000.0, scaling));
        if (!file.commit()) {
            bench::bench_failed(file);
        }
    });
    const auto size = std::filesystem::file_size(path);
    std::filesystem::remove(path);
    std::printf("PELMO save, %zu points, %ju bytes: median %.1f ms (min %.1f, max %.1f; processor "
                "%.1f ms) of %d runs\n",
                points, static_cast<std::uintmax_t>(size), t.median_ms, t.min_ms, t.max_ms,
                t.cpu_ms, runs);
    return 0;
}

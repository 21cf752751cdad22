// Writing a large GLE output as a set: 2000 control files of one strip each
// through SafeFileSet (written one at a time, synced once, renamed as a whole),
// and one page with 3 million label ticks streamed from WRIGLE. Prints the
// median of several runs and the peak resident memory of the whole program.
#include "base/safe_file.h"
#include "base/safe_file_set.h"
#include "bench/timing.h"
#include "output/wrigle.h"

#include <cstdio>
#include <filesystem>
#include <sys/resource.h>

namespace {

using namespace korax;

struct SetTarget final : GleTarget {
    SafeFileSet& set;
    explicit SetTarget(SafeFileSet& s) : set(s) {}
    void begin_page(std::int32_t, const std::string& file_name) override {
        if (set.add(file_name, OpenMode::Unknown) != SafeFile::Status::Ok) {
            std::fprintf(stderr, "%s: %s\n", set.failed_path().c_str(), set.error_text().c_str());
            std::exit(1);
        }
    }
    void append(std::string_view text) override { set.write(text); }
};

double write_set(const std::string& name, int strips, double width, double marker_spacing) {
    const auto base = static_cast<std::int32_t>(name.find('.'));
    std::size_t bytes = 0;
    const bench::Timing t = bench::time_runs(5, [&] {
        SafeFileSet set;
        SetTarget target(set);
        for (int strip = 1; strip <= strips; ++strip)
            WRIGLE(1000 + width * (strip - 1), 1000 + width * strip, marker_spacing, strip, 1, name,
                   base, target);
        if (!set.commit()) {
            std::fprintf(stderr, "%s: %s\n", set.failed_path().c_str(), set.error_text().c_str());
            std::exit(1);
        }
        bytes = 0;
        for (int page = 1; page <= strips; ++page)
            bytes += std::filesystem::file_size(
                control_file_name(name.substr(0, std::size_t(base)), page));
    });
    std::printf("%d control files, %zu bytes: median %.1f ms (min %.1f, max %.1f; processor "
                "%.1f ms) of 5 runs\n",
                strips, bytes, t.median_ms, t.min_ms, t.max_ms, t.cpu_ms);
    return t.median_ms;
}

} // namespace

int main() {
    const auto dir = std::filesystem::temp_directory_path() / "korax_gleset_bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string name = (dir / "bench.001").string();
    write_set(name, 2000, 40.0, 1.0);
    // 27300 units with ticks every 0.01: 2.73 million ticks, about 55 MB.
    write_set(name, 1, 27300.0, 0.001);
    std::filesystem::remove_all(dir);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %ld MB\n", usage.ru_maxrss / 1024);
    return 0;
}

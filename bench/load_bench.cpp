// Load speed of the two spectrum readers at full capacity: a 3,000,000-point
// PELMO binary file and a 3,000,000-pair ASCII file (about 50 MB), both made
// here in the temporary folder. Prints the median of repeated loads, which
// come from the page cache as a repeat load by the operator would. Then the
// ASCII file again with a long tail of further pairs behind the 3,000,000 that
// are taken: the reader must stop where it stops taking pairs, in time and in
// resident memory.
//
//   load_bench [runs] [tail MiB]      (defaults 11 and 1024)
#include "input/ascii.h"
#include "input/pelmo.h"
#include "input/pelmo_format.h"
#include "spectrum/store.h"
#include "testing/test_window.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>

namespace {

using namespace korax;
using Clock = std::chrono::steady_clock;

// CPU time of this thread: on a machine shared with other work the wall clock
// also counts the time the loader waited for a core.
double cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string make_pelmo(const std::filesystem::path& path) {
    SpectrumHeader h;
    h.clear();
    set_field(h.COMENT, "benchmark spectrum");
    h.IDAY = 1, h.IMONTH = 6, h.IYEAR = 1999;
    std::vector<unsigned char> b(PELMO_HEADER_BYTES + PELMO_COUNT_BYTES + 2 * std::size_t(MAXPTS) +
                                 PELMO_AXIS_BYTES);
    encode_pelmo_header(h,
                        std::span<unsigned char, PELMO_HEADER_BYTES>(b.data(), PELMO_HEADER_BYTES));
    unsigned char* p = b.data() + PELMO_HEADER_BYTES;
    encode_pelmo_count({-1, MAXPTS, 0, 0},
                       std::span<unsigned char, PELMO_COUNT_BYTES>(p, PELMO_COUNT_BYTES));
    p += PELMO_COUNT_BYTES;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> y(-30000, 30000);
    for (int i = 0; i < MAXPTS; ++i, p += 2)
        put_le<std::int16_t>(p, static_cast<std::int16_t>(y(rng)));
    encode_pelmo_axis({10000.0, 10000.0 + (MAXPTS - 1) * 0.001, 0.001},
                      std::span<unsigned char, PELMO_AXIS_BYTES>(p, PELMO_AXIS_BYTES));
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
    return path.string();
}

std::string make_ascii(const std::filesystem::path& path) {
    std::string text = "benchmark spectrum, two columns\n";
    text.reserve(18 * std::size_t(MAXPTS) + 64);
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> y(-9999, 9999);
    char line[48];
    for (int i = 0; i < MAXPTS; ++i) {
        const int n = std::snprintf(line, sizeof line, "%.5f %d\n", 10000.0 + i * 0.001, y(rng));
        text.append(line, static_cast<std::size_t>(n));
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path.string();
}

// The ASCII file followed by about `mib` MiB more of its own pairs.
std::string make_ascii_with_tail(const std::string& ascii, const std::filesystem::path& path,
                                 std::size_t mib) {
    std::filesystem::copy_file(ascii, path, std::filesystem::copy_options::overwrite_existing);
    std::FILE* in = std::fopen(ascii.c_str(), "rb");
    std::string body;
    body.resize(static_cast<std::size_t>(std::filesystem::file_size(ascii)));
    body.resize(std::fread(body.data(), 1, body.size(), in));
    std::fclose(in);
    body.erase(0, body.find('\n') + 1); // the pairs without the comment
    std::FILE* out = std::fopen(path.c_str(), "ab");
    for (std::size_t written = 0; written < (mib << 20); written += body.size())
        std::fwrite(body.data(), 1, body.size(), out);
    std::fclose(out);
    return path.string();
}

// The peak resident size of the process so far, MiB.
double peak_resident_mib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    const auto dir = std::filesystem::temp_directory_path();
    const std::string pelmo = make_pelmo(dir / "korax_bench.001");
    const std::string ascii = make_ascii(dir / "korax_bench.txt");

    store().SCREEN = ScreenGeometry{799, 539, 30, 80, 19};
    TestWindow window;

    std::vector<double> pelmo_ms, ascii_ms, linear_ms, pelmo_cpu, ascii_cpu;
    for (int r = 0; r < runs; ++r) {
        std::FILE* f = std::fopen(pelmo.c_str(), "rb");
        const double c0 = cpu_ms();
        const auto t0 = Clock::now();
        const PelmoOutcome outcome = read_pelmo(f);
        const auto t1 = Clock::now();
        pelmo_cpu.push_back(cpu_ms() - c0);
        std::fclose(f);
        if (outcome != PelmoOutcome::Loaded || store().NPTS != MAXPTS) {
            std::fprintf(stderr, "PELMO load failed\n");
            return 1;
        }
        pelmo_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    store().FNAME = ascii;
    for (int r = 0; r < runs; ++r) {
        const double c0 = cpu_ms();
        const auto t0 = Clock::now();
        const bool ok = read_ascii_spectrum();
        const auto t1 = Clock::now();
        ascii_cpu.push_back(cpu_ms() - c0);
        linearise_axis();
        const auto t2 = Clock::now();
        if (!ok || store().NPTS != MAXPTS) {
            std::fprintf(stderr, "ASCII load failed\n");
            return 1;
        }
        ascii_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        linear_ms.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    std::printf("PELMO binary, %d points: median %8.2f ms wall, %8.2f ms CPU over %d loads\n",
                MAXPTS, median(pelmo_ms), median(pelmo_cpu), runs);
    std::printf("ASCII pairs, %d pairs:   median %8.2f ms wall, %8.2f ms CPU over %d loads\n",
                MAXPTS, median(ascii_ms), median(ascii_cpu), runs);
    std::printf("axis check after the ASCII load: median %8.2f ms\n", median(linear_ms));

    const std::size_t tail_mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    const std::string tailed = make_ascii_with_tail(ascii, dir / "korax_bench_tail.txt", tail_mib);
    store().FNAME = tailed;
    std::vector<double> tail_ms;
    const double resident_before = peak_resident_mib();
    for (int r = 0; r < runs; ++r) {
        const auto t0 = Clock::now();
        const bool ok = read_ascii_spectrum();
        const auto t1 = Clock::now();
        if (!ok || store().NPTS != MAXPTS) {
            std::fprintf(stderr, "ASCII load with a tail failed\n");
            return 1;
        }
        tail_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::printf("ASCII pairs and a %zu MiB tail: median %8.2f ms wall; peak resident %.0f MiB "
                "(%.0f MiB before these loads)\n",
                tail_mib, median(tail_ms), peak_resident_mib(), resident_before);
    std::filesystem::remove(pelmo);
    std::filesystem::remove(ascii);
    std::filesystem::remove(tailed);
    return 0;
}

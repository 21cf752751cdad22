// The keys of the reference spectrum and the difference mode at 3,000,000
// points, one key at a time through the viewer's key loop (command guard,
// command and redraw into an 800 x 540 window), with the whole spectrum
// shown: the main spectrum and a reference of 3,000,000 points on another
// grid (another step and start). Wanted: every key 5 ms or less with the
// reference shown, 10 ms or less in the difference mode. Prints the median,
// smallest and largest wall time of each key over several runs, and the
// median processor time of the process (its threads included).
//
//   compare_bench [RUNS]
#include "analysis/difference.h"
#include "bench/timing.h"
#include "input/spectrum_file.h"
#include "output/pelmo_image.h"
#include "spectrum/store.h"
#include "testing/test_window.h"
#include "viewer/column_trace.h"
#include "viewer/command_guard.h"
#include "viewer/display.h"
#include "viewer/lookfm.h"
#include "viewer/reference.h"
#include "viewer/undo.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace korax;

constexpr std::int16_t PGUP = -73, PGDN = -81, UP = -72, DOWN = -80;

// Lines of the second-derivative shape on a slow baseline, as a recording
// looks; `shift` moves the baseline so that the two spectra differ.
double recording(double f, double shift) {
    const double x = f - 240000.0;
    double y = 800 * std::sin(x / 9000.0 + shift) + 300 * std::sin(x / 700.0);
    const double t = std::fmod(x, 37.3) - 18.0;
    const double u = t * t / 0.16 + 1;
    y -= 6000 * (3 * u - 4) / (u * u * u);
    return y;
}

// A PELMO file of n points from f1 in steps of `step` in `dir`.
std::string write_reference(const std::filesystem::path& dir, std::int32_t n, double f1,
                            double step) {
    SpectrumHeader h;
    h.clear();
    set_field(h.COMENT, "reference for the compare benchmark");
    h.IDAY = 1;
    h.IMONTH = 1;
    h.IYEAR = 2000;
    std::vector<std::int32_t> y(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i)
        y[static_cast<std::size_t>(i)] =
            static_cast<std::int32_t>(0.5 * recording(f1 + i * step, 0.7));
    const std::string path = (dir / "reference.001").string();
    std::ofstream(path, std::ios::binary)
        << pelmo_file_image(h, y, f1, f1 + (n - 1) * step, step, save_scaling(y));
    return path;
}

double process_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return 1e3 * double(t.tv_sec) + 1e-6 * double(t.tv_nsec);
}

// Wall time of each run, and the processor time of the whole process (the
// threads of a pass included) as its median, which shows what a key costs
// on a machine busy with other work.
template <class F> bench::Timing measure(int runs, F work) {
    std::vector<double> ms, cpu;
    for (int run = 0; run < runs; ++run) {
        const double c0 = process_cpu_ms();
        const auto t0 = std::chrono::steady_clock::now();
        work();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        cpu.push_back(process_cpu_ms() - c0);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    return {ms[ms.size() / 2], ms.front(), ms.back(), cpu[cpu.size() / 2]};
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 21;
    SpectrumStore& s = store();
    s.SCREEN = ScreenGeometry{799, 539, 30, 80, 19};
    s.NPTS = MAXPTS;
    s.FSTEP = 0.05;
    double k = 0;
    for (std::int32_t i = 1; i <= MAXPTS; ++i, k += 1.0) {
        const auto p = static_cast<std::size_t>(i);
        s.FREQ[p] = 240000.0 + k * s.FSTEP;
        s.INTENS[p] = static_cast<std::int32_t>(recording(s.FREQ[p], 0.0));
    }
    s.FSTART = s.FREQ[1];
    s.FEND = s.FREQ[MAXPTS];
    s.IYMIN = -30000;
    s.IYMAX = 30000;
    const auto dir = std::filesystem::temp_directory_path() / "korax_compare_bench";
    std::filesystem::create_directories(dir);
    s.FNAME = (dir / "main.001").string();
    // Another grid: a step 0.3 % longer, starting between two points.
    const std::string reference = write_reference(dir, MAXPTS, 239999.987, 0.04985);

    TestWindow tw(800, 540, 30);
    ViewerState v;
    lookfm_entry(v);
    spectrum_history().start();
    for (int i = 0; i < 20; ++i)
        (void)viewer_key(v, 'Q');

    std::printf("Reference and difference keys, %d points each, whole spectrum shown, %d runs\n",
                MAXPTS, runs);
    const auto row = [](const char* what, const bench::Timing& t) {
        std::printf("  %-52s median %6.2f ms (min %6.2f, max %6.2f; processor %6.2f)\n", what,
                    t.median_ms, t.min_ms, t.max_ms, t.cpu_ms);
    };
    // Keys pressed in turn, so that every run has something to do.
    const auto keys = [&](const char* what, std::vector<std::int16_t> codes) {
        std::size_t turn = 0;
        row(what, measure(runs, [&] { (void)viewer_key(v, codes[turn++ % codes.size()]); }));
    };

    std::printf("Without a reference:\n");
    keys("q and Q (zoom at the whole spectrum)", {'q', 'Q'});
    row("the plot redraw alone", measure(runs, [&] { plot_redraw(v); }));
    // < with the name typed and the two ENTERs of its dialog: the load of
    // 3,000,000 points on another grid is most of it.
    row("< opens the reference (the load included)", measure(5, [&] {
            for (char c : reference)
                tw.front_end.keys.push_back(static_cast<unsigned char>(c));
            tw.front_end.keys.push_back(13);
            tw.front_end.keys.push_back(13);
            (void)viewer_key(v, '<');
        }));
    std::printf("With the reference shown:\n");
    row("the plot redraw alone", measure(runs, [&] { plot_redraw(v); }));
    row("the reference's drawing alone", measure(runs, [&] { draw_reference(v); }));
    row("the main trace alone (its pixel columns)", measure(runs, [&] {
            set_viewer_coords(v);
            draw_column_trace(s.FREQ, s.INTENS, v.IFIRST, v.ILAST, v.YLOW, v.YHIGH);
        }));
    row("the main trace as one polyline of all its points", measure(runs, [&] {
            Window& w = window();
            set_viewer_coords(v);
            const auto n = static_cast<std::size_t>(v.ILAST - v.IFIRST + 1);
            const auto first = static_cast<std::size_t>(v.IFIRST);
            w.polyline(std::span<const double>(s.FREQ.data() + first, n),
                       std::span<const std::int32_t>(s.INTENS.data() + first, n), v.YLOW, v.YHIGH);
        }));
    keys("q and Q (zoom at the whole spectrum)", {'q', 'Q'});
    keys("W and Z (the vertical scale)", {'W', 'Z'});
    keys("PGUP and PGDN (the reference taller, shorter)", {PGUP, PGDN});
    keys("up and down arrows (the reference moved)", {UP, DOWN});
    keys("/ (its scale fitted to the trace shown)", {'/'});
    {
        const auto n = static_cast<std::size_t>(s.NPTS);
        const std::span<const std::int32_t> main(s.INTENS.data(), n + 1);
        const std::span<const double> grid = reference_on_grid().first(n + 1);
        row("the fit alone, 3,000,000 points",
            measure(runs, [&] { (void)fit_scale(main, grid, 1, s.NPTS); }));
        row("the difference's extremes alone, 3,000,000 points",
            measure(runs, [&] { (void)difference_extremes(main, grid, 1.5, 1, s.NPTS); }));
    }
    keys("K and L (the cursor)", {'K', 'L'});

    std::printf("In the difference mode:\n");
    row("~ the first time (the reference put onto the grid)",
        measure(1, [&] { (void)viewer_key(v, '~'); }));
    row("the plot redraw alone", measure(runs, [&] { plot_redraw(v); }));
    keys("q and Q (zoom at the whole spectrum)", {'q', 'Q'});
    keys("W and Z (the vertical scale)", {'W', 'Z'});
    keys("/ (k fitted over the points shown)", {'/'});
    keys("* (the vertical scale fitted to the difference)", {'*'});
    keys("K and L (the cursor)", {'K', 'L'});
    const auto once = [&](std::int16_t code) {
        return measure(1, [&] { (void)viewer_key(v, code); });
    };
    std::vector<bench::Timing> off, on, take, undo;
    for (int r = 0; r < runs; ++r) {
        off.push_back(once('~'));
        on.push_back(once('~'));
    }
    row(": with k typed (1.5 and ENTER)", measure(runs, [&] {
            for (int c : {int('1'), int('.'), int('5'), 13})
                tw.front_end.keys.push_back(c);
            (void)viewer_key(v, ':');
        }));
    for (int r = 0; r < runs; ++r) {
        take.push_back(once('!'));
        undo.push_back(once('U'));
        (void)viewer_key(v, '~');
    }
    const auto summary = [](const std::vector<bench::Timing>& each) {
        std::vector<double> ms, cpu;
        for (const bench::Timing& t : each) {
            ms.push_back(t.median_ms);
            cpu.push_back(t.cpu_ms);
        }
        std::sort(ms.begin(), ms.end());
        std::sort(cpu.begin(), cpu.end());
        return bench::Timing{ms[ms.size() / 2], ms.front(), ms.back(), cpu[cpu.size() / 2]};
    };
    row("~ off", summary(off));
    row("~ on again (k fitted over the points shown)", summary(on));
    row("! (the difference taken into the spectrum)", summary(take));
    row("U after ! (the difference undone)", summary(undo));
    std::filesystem::remove_all(dir);
    return 0;
}

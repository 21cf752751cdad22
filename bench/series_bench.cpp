// The series view at 3,000,000 points: the symmetric top of korax-mkspectrum
// --top (members J = 10-60, K = 0-20, among 2000 lines of other species), its
// catalogue open. Times J from the key to the view drawn (the first J builds
// the catalogue's index), and each key of the view through the real key loop:
// a run of the view with a hundred of one key against the same run without
// them, per key; A's fits of the series' 48 members not assigned; and what a
// redraw of every strip costs alone. Prints medians of several runs, wall
// and processor time (on a busy machine the second tells what the work cost).
#include "bench/timing.h"
#include "examples/spectrum_maker.h"
#include "spectrum/store.h"
#include "testing/test_window.h"
#include "viewer/catalog_keys.h"
#include "viewer/command_guard.h"
#include "viewer/display.h"
#include "viewer/lookfm.h"
#include "viewer/series_view.h"
#include "window/cancel.h"
#include "window/inkey.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

int main() {
    using namespace korax;
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("korax_series_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);

    SpectrumRecipe base;
    base.step = 0.0421;
    base.width = 0.6;
    base.seed = 11;
    const TopSpectrum top = make_top_spectrum(TopRecipe{}, base);
    std::ofstream(dir / "top.cat") << top_catalog_text(top);

    SpectrumStore& s = store();
    s.SCREEN = ScreenGeometry{799, 539, 30, 80, 19};
    s.NPTS = static_cast<std::int32_t>(top.spectrum.freq.size());
    s.IYMIN = 1 << 30;
    s.IYMAX = -(1 << 30);
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        const auto k = static_cast<std::size_t>(i);
        s.FREQ[k] = top.spectrum.freq[k - 1];
        s.INTENS[k] = top.spectrum.intens[k - 1];
        s.IYMIN = std::min(s.IYMIN, s.INTENS[k]);
        s.IYMAX = std::max(s.IYMAX, s.INTENS[k]);
    }
    s.FSTART = s.FREQ[1];
    s.FEND = s.FREQ[static_cast<std::size_t>(s.NPTS)];
    s.FSTEP = base.step;
    s.FNAME = (dir / "top.001").string();

    TestWindow tw(800, 540, 30);
    ViewerState v;
    SessionStart start;
    start.catalogs = {(dir / "top.cat").string()};
    catalog_session().settings.lin_path = (dir / "top.lin").string();
    lookfm_entry(v, start);

    // One J through the key loop with `keys` pressed in the view, then Esc.
    const auto view_with = [&](const std::string& keys) {
        tw.front_end.keys.push_back(KEY_ENTER); // the step offered
        for (char c : keys)
            tw.front_end.keys.push_back(static_cast<unsigned char>(c));
        tw.front_end.keys.push_back(KEY_ESCAPE);
        const double f = v.FCURS;
        (void)viewer_key(v, 'J');
        // Back where the J began, so that every run opens the same series.
        v.FCURS = f;
    };
    constexpr int runs = 7, presses = 100;
    std::printf("spectrum: %d points, catalogue: %zu predictions\n", s.NPTS,
                catalog_session().catalogs[0].size());
    const bench::Timing first = bench::time_runs(1, [&] { view_with(""); });
    const bench::Timing again = bench::time_runs(runs, [&] { view_with(""); });
    std::printf("J, ENTER, Esc, the first (index built): %8.2f ms (cpu %.2f)\n", first.median_ms,
                first.cpu_ms);
    // The view is there: its key line on the last row while it waits.
    tw.front_end.keys.push_back(KEY_ENTER);
    try {
        const double f = v.FCURS;
        (void)viewer_key(v, 'J');
        v.FCURS = f;
    } catch (const RunEnded&) {
    }
    if (tw.row(30).find("X fit T assign A all") == std::string::npos) {
        std::fprintf(stderr, "no series view: %s\n", tw.row(30).c_str());
        return 1;
    }

    std::printf("J, ENTER, Esc:                          %8.2f ms (cpu %.2f)\n", again.median_ms,
                again.cpu_ms);
    // Esc leaves to the viewer, which redraws the whole spectrum: without it.
    const bench::Timing redraw = bench::time_runs(runs, [&] { full_redraw(v); });
    std::printf("   of which the viewer's redraw at Esc: %8.2f ms (cpu %.2f)\n", redraw.median_ms,
                redraw.cpu_ms);

    struct Key {
        const char* name;
        std::string keys; // `presses` of them
    };
    const auto times = [](const std::string& pair) {
        std::string k;
        for (int i = 0; i < presses / 2; ++i)
            k += pair;
        return k;
    };
    const Key keys[] = {
        {"K k L l (cursor)", times("Kl")},
        {"Q E (span)", times("QE")},
        {"q e (span)", times("qe")},
        {"W Z (scale)", times("WZ")},
        {"] [ (strip)", times("][")},
        {"} { (eight strips)", times("}{")},
        {"X (fit at the cursor)", times("XX")},
    };
    for (const Key& k : keys) {
        const bench::Timing with = bench::time_runs(runs, [&] { view_with(k.keys); });
        std::printf("%-24s %6.2f ms a key (cpu %.2f)\n", k.name,
                    (with.median_ms - again.median_ms) / presses,
                    (with.cpu_ms - again.cpu_ms) / presses);
    }
    // A: the review of every member not assigned; Esc at the list.
    const bench::Timing review = bench::time_runs(3, [&] { view_with("A\x1b"); });
    std::printf("A (48 members fitted) and Esc: %8.2f ms (cpu %.2f, the fits on two threads)\n",
                review.median_ms - again.median_ms, review.cpu_ms - again.cpu_ms);
    fs::remove_all(dir);
    return 0;
}

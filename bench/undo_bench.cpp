// The undo history at 3,000,000 points: the memory its eight steps hold, the
// time of U and Y (the store part alone, and the whole key with the redraw of
// a zoomed-out display), the safety copy a changing key takes first, and the
// undo of a long append, whose lengths differ. Prints medians of several runs.
#include "bench/timing.h"
#include "spectrum/store.h"
#include "testing/test_window.h"
#include "viewer/command_guard.h"
#include "viewer/lookfm.h"
#include "viewer/undo.h"

#include <cmath>
#include <cstdio>

int main() {
    using namespace korax;
    SpectrumStore& s = store();
    s.SCREEN = ScreenGeometry{799, 539, 30, 80, 19};
    s.NPTS = MAXPTS;
    s.FSTEP = 0.05;
    s.IYMIN = -30000;
    s.IYMAX = 30000;
    // The upper half continues the axis step by step, as an append writes it.
    for (std::int32_t i = 1; i <= MAXPTS; ++i) {
        const auto k = static_cast<std::size_t>(i);
        s.FREQ[k] = i <= 1500000 ? 240000.0 + (i - 1) * s.FSTEP : s.FREQ[k - 1] + s.FSTEP;
        s.INTENS[k] = static_cast<std::int32_t>(30000.0 * std::sin(0.001 * i));
    }
    s.FSTART = s.FREQ[1];
    s.FEND = s.FREQ[MAXPTS];
    s.FNAME = "bench.001";

    TestWindow tw(800, 540, 30);
    ViewerState v;
    lookfm_entry(v);
    SpectrumHistory& history = spectrum_history();
    history.start();
    constexpr int runs = 15;

    // The copy a changing key takes before it runs, and the check afterwards.
    const bench::Timing guard = bench::time_runs(runs, [&] {
        SpectrumSnapshot snap;
        capture(snap, s.NPTS + 1, false, v.YMEAN);
        if (store_matches(snap)) s.INTENS[1] ^= 0;
    });

    // Eight inversions through the key loop fill the history.
    for (int k = 0; k < 8; ++k)
        (void)viewer_key(v, '-');
    const double held_mb = double(history.bytes()) / (1024.0 * 1024.0);

    // U and Y alternately, so that every run has a step to take.
    int turn = 0;
    const bench::Timing store_part = bench::time_runs(runs, [&] {
        if (turn++ % 2 == 0)
            (void)history.undo(v.YMEAN);
        else
            (void)history.redo(v.YMEAN);
    });
    for (int k = 0; k < 20; ++k)
        (void)viewer_key(v, 'Q');
    turn = 0;
    const bench::Timing whole_key = bench::time_runs(runs, [&] {
        (void)viewer_key(v, turn++ % 2 == 0 ? std::int16_t('U') : std::int16_t('Y'));
    });

    // An append of 1,500,000 points undone and redone: the lengths differ, so
    // the step copies instead of exchanging in place.
    history.start();
    s.NPTS = 1500000;
    SpectrumSnapshot before;
    capture(before, s.NPTS + 1, false, v.YMEAN);
    s.NPTS = MAXPTS;
    history.record(std::move(before), "append", true);
    turn = 0;
    const bench::Timing append_step = bench::time_runs(runs, [&] {
        if (turn++ % 2 == 0)
            (void)history.undo(v.YMEAN);
        else
            (void)history.redo(v.YMEAN);
    });
    const double append_mb = double(history.bytes()) / (1024.0 * 1024.0);

    const auto row = [&](const char* what, const bench::Timing& t) {
        std::printf("%-58s median %6.2f ms (min %6.2f, max %6.2f; processor %6.2f ms)\n", what,
                    t.median_ms, t.min_ms, t.max_ms, t.cpu_ms);
    };
    std::printf("Undo history at %d points, %d runs each\n", MAXPTS, runs);
    std::printf("%-58s %.1f MB\n", "memory held by 8 steps", held_mb);
    std::printf("%-58s %.1f MB\n", "memory held by an append step (1,500,000 points added)",
                append_mb);
    row("safety copy and check before a changing key", guard);
    row("U/Y, the store alone", store_part);
    row("U/Y key with redraw of the whole spectrum", whole_key);
    row("U/Y of an append (1,500,000 -> 3,000,000 points)", append_step);
    return 0;
}

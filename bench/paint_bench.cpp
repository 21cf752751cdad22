// Time of one full paint of the Qt window after a change of the whole canvas
// (what a full redraw of the viewer asks the screen for), at the whole-number
// scales a resized or maximised window shows: 800 x 540 pixels drawn as 1, 2, 3
// and 4 screen pixels square. Runs on the offscreen platform, so it measures the
// scaling and copying of the window itself, not the display server. Prints the
// median of 30 paints per scale, the processor time of the painting thread, and
// that of the whole process per paint; a key should stay well under 20 ms in all.
#include "bench/timing.h"
#include "window/canvas.h"
#include "window/qt/qt_front_end.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <ctime>
#include <random>

int main(int argc, char** argv) {
    using namespace korax;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    constexpr int width = 800, height = 540;
    Canvas canvas(width, height);
    // A busy picture: every pixel one of the 16 colours.
    std::mt19937 random(2026);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            canvas.set_pixel(x, y, static_cast<std::uint8_t>(random() % 16));

    QtFrontEnd front_end;
    front_end.resized(width, height);
    QWidget* widget = front_end.widget();
    std::printf("scale  window        median_ms  min_ms  max_ms  cpu_ms  process_cpu_ms\n");
    for (int scale = 1; scale <= 4; ++scale) {
        widget->resize(width * scale, height * scale);
        front_end.show(canvas, Rect{0, 0, width - 1, height - 1});
        widget->repaint(); // once to settle the backing store at this size
        constexpr int runs = 30;
        timespec p0{}, p1{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &p0);
        const bench::Timing t = bench::time_runs(runs, [&] {
            canvas.set_pixel(0, 0, static_cast<std::uint8_t>((canvas.pixel(0, 0) + 1) % 16));
            front_end.show(canvas, Rect{0, 0, width - 1, height - 1});
            widget->repaint();
        });
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &p1);
        // All threads, in case the painter hands work to a pool: the mean per paint.
        const double process_ms =
            (1e3 * double(p1.tv_sec - p0.tv_sec) + 1e-6 * double(p1.tv_nsec - p0.tv_nsec)) / runs;
        std::printf("%5d  %4d x %4d  %9.2f  %6.2f  %6.2f  %6.2f  %14.2f\n", scale, width * scale,
                    height * scale, t.median_ms, t.min_ms, t.max_ms, t.cpu_ms, process_ms);
    }
    return 0;
}

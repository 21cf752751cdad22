// The frequency scale under the plot: a short tick at every marker, a long one
// at every tenth, and the long ticks' frequencies on the second-to-last row.
// The layout is computed apart from the drawing so that tests can read it.
#include "driver/store.h"
#include "viewer/display.h"
#include "window/format.h"
#include "window/window.h"

#include <cmath>

namespace korax {

double marker_spacing(double range) {
    if (!(range > 0) || !std::isfinite(range)) return 0;
    double s = 100000.0;
    // Repeated multiplication, not division: below 0.1 the spacing is then a
    // hair above the power of ten, which decides borderline ranges.
    while (std::trunc(range / s) < 15) {
        s *= 0.1;
        if (!(s > 0)) return 0;
    }
    return s;
}

std::string marsca_layout(double lower, double upper,
                          const std::function<void(double x, bool long_tick)>& tick) {
    std::string line(80, ' ');
    double range = upper - lower;
    double s = marker_spacing(range);
    if (s == 0) return line;

    double x = std::trunc(lower / s) * s;
    if (x < lower) x += s;
    while (x <= upper) {
        double t = std::round(x / s);
        bool long_tick = std::round(std::trunc(t * 0.1) * 10) == t;
        if (long_tick) {
            double c = std::trunc((x - lower) / range * 80);
            if (c - 3 > 0 && c + 4 <= 79) {
                auto col = static_cast<std::size_t>(c);
                std::string label = x < 1000000 ? fmt_fixed(x, 8, 1) : fmt_point(x, 8);
                // Columns count from 1: the label takes col-3..col+4. Further
                // right it goes in only where the previous label has not reached.
                if (col <= 7 || line[col - 6 - 1] == ' ') line.replace(col - 3 - 1, 8, label);
            }
        }
        if (tick) tick(x, long_tick);
        double next = x + s;
        // Far from zero a small spacing no longer moves x; stop rather than spin.
        if (!(next > x)) break;
        x = next;
    }
    return line;
}

void MARSCA(const double& flow, const double& fhigh, const ViewerState& v) {
    auto& w = window();
    w.set_color(15);
    std::string line = marsca_layout(flow, fhigh, [&](double x, bool long_tick) {
        w.move_to(x, v.YLOW);
        w.line_to(x, v.YLOW - (long_tick ? 13 : 5) * v.YTICK);
    });
    w.set_text_color(1);
    w.set_text_background(7);
    w.set_text_position(store().SCREEN.NROWS - 1, 1);
    w.write_chars(line);
}

} // namespace korax

// The PEAKFINDER marks: pixel columns as the catalogue overlay counts them,
// so that a found line and its prediction meet in one column.
#include "viewer/peak_marks.h"

#include "analysis/autopk.h"
#include "spectrum/store.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace korax {

namespace {

bool g_marks_on = false;
constexpr int MARK_COLOR = 7;

} // namespace

void key_peak_marks(ViewerState&) {
    g_marks_on = !g_marks_on;
}

void draw_peak_marks(const ViewerState& v) {
    const std::vector<FoundLine>& lines = peakfinder_lines();
    if (!g_marks_on || lines.empty()) return;
    const auto& g = store().SCREEN;
    // The plot area's size, as the catalogue overlay takes it.
    const int width = g.MAXX - 3, height = g.MAXY - 4 * g.ROWPIX + 5;
    if (width < 2 || height < 1 || !(v.FHIGH > v.FLOW)) return;
    const double per_px = (v.FHIGH - v.FLOW) / (width - 1);
    const double from = v.FLOW - 0.5 * per_px, to = v.FLOW + (width - 0.5) * per_px;
    const auto in_view = [&](const FoundLine& l) {
        return l.frequency >= from && l.frequency < to;
    };
    double strongest = 0;
    for (const FoundLine& l : lines)
        if (in_view(l)) strongest = std::max(strongest, std::abs(double(l.intensity)));
    Window& w = window();
    w.set_write_mode(WriteMode::Copy);
    w.set_color(MARK_COLOR);
    const int tallest = std::max(3, height / 4);
    for (const FoundLine& l : lines) {
        if (!in_view(l)) continue;
        const int col = static_cast<int>(std::floor((l.frequency - from) / per_px));
        const double share = strongest > 0 ? std::abs(double(l.intensity)) / strongest : 1;
        const int length = std::clamp(static_cast<int>(share * tallest), 3, tallest);
        w.vertical_run_px(col, 0, length - 1);
    }
    // The frame and the trace follow in the plot redraw's own colour.
    w.set_color(15);
}

} // namespace korax

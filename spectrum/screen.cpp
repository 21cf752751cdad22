// The arithmetic of the window geometry.
#include "spectrum/screen.h"

#include <cmath>

namespace korax {

ScreenGeometry screen_geometry(int width, int height, int rows) {
    ScreenGeometry g;
    g.MAXX = static_cast<std::int16_t>(width - 1);
    g.MAXY = static_cast<std::int16_t>(height - 1);
    g.NROWS = static_cast<std::int16_t>(rows);
    g.NCOLS = 80;
    g.ROWPIX = static_cast<std::int16_t>(
        std::lround(static_cast<double>(g.MAXY) / static_cast<double>(rows)) + 1);
    return g;
}

WindowSize toggled_size(const ScreenGeometry& screen) {
    WindowSize c;
    const int height = screen.MAXY + 1;
    if (screen.NROWS == START_ROWS) {
        c.rows = SHORT_ROWS;
        c.height = SHORT_ROWS * (height / START_ROWS);
    } else {
        c.rows = START_ROWS;
        c.height = START_ROWS * (height / SHORT_ROWS);
    }
    c.width = screen.MAXX + 1;
    return c;
}

} // namespace korax

// The window geometry SCREEN that every screen draws against, and the arithmetic
// that derives it from a window's size: set at start-up from the configuration
// and again whenever the viewer toggles the window's height.
#pragma once

#include <cstdint>

namespace korax {

inline constexpr int START_ROWS = 30;
inline constexpr int SHORT_ROWS = 17;

struct ScreenGeometry {
    std::int16_t MAXX = 0, MAXY = 0, NROWS = 0, NCOLS = 0, ROWPIX = 0;
};

// SCREEN as derived from the window's accepted size and rows.
ScreenGeometry screen_geometry(int width, int height, int rows);

// The size a window takes, in pixels and text rows.
struct WindowSize {
    int width = 0;
    int height = 0;
    int rows = START_ROWS;
};

// The window size after the height toggle: 30 rows become 17 and back, keeping
// the whole pixel height of a row of the current window.
WindowSize toggled_size(const ScreenGeometry& screen);

} // namespace korax

// Where the canvas sits in a window of any size: at the largest whole-number
// scale that fits (at least 1), centred, so that every canvas pixel becomes a
// sharp square of screen pixels. All in device pixels; no Qt here, so that the
// arithmetic is tested on its own.
#pragma once

#include <optional>

namespace korax {

struct Placement {
    int scale = 1;
    int x = 0, y = 0; // top-left corner of the picture; negative when the window is smaller
};

Placement place_canvas(int area_width, int area_height, int canvas_width, int canvas_height);

struct CanvasPixel {
    int x = 0, y = 0;
};

// The canvas pixel under device position (x, y); nullopt beside the picture.
std::optional<CanvasPixel> canvas_pixel_at(const Placement& p, int canvas_width, int canvas_height,
                                           double x, double y);

// The scale a window opens at on a screen with this device pixel ratio: the
// ratio rounded to a whole number, so a 2x screen shows each canvas pixel as
// 2 x 2 device pixels and the window keeps its usual size on the desk.
int opening_scale(double device_pixel_ratio);

struct BoxSize {
    int width = 0, height = 0;
};
// The size the file-open box opens at: `wanted` (room for its side bar and
// the columns of its list, whatever the main window's size), but never beyond
// 9/10 of the screen's free area (`room`; none when 0), never below the box's
// own least size (`least`).
BoxSize file_box_size(BoxSize wanted, BoxSize room, BoxSize least);
// The name column holds this many average characters, and the box as many
// lines of the list.
inline constexpr int FILE_BOX_NAME_CHARACTERS = 48;
inline constexpr int FILE_BOX_LINES = 30;

} // namespace korax

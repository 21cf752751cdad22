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

} // namespace korax

// Where the canvas stands in a resized window: the largest whole scale that
// fits, centred, and the canvas pixel under a point of the window.
#include "window/qt/placement.h"

#include <algorithm>
#include <cmath>

namespace korax {

Placement place_canvas(int area_width, int area_height, int canvas_width, int canvas_height) {
    Placement p;
    if (canvas_width <= 0 || canvas_height <= 0) return p;
    p.scale = std::max(1, std::min(area_width / canvas_width, area_height / canvas_height));
    // Halves of an odd remainder go to the right and bottom, as the floor gives.
    p.x = (area_width - canvas_width * p.scale) / 2;
    p.y = (area_height - canvas_height * p.scale) / 2;
    if (area_width < canvas_width) p.x = 0; // too small: keep the top-left corner in view
    if (area_height < canvas_height) p.y = 0;
    return p;
}

std::optional<CanvasPixel> canvas_pixel_at(const Placement& p, int canvas_width, int canvas_height,
                                           double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y) || p.scale < 1) return std::nullopt;
    const double cx = std::floor((x - p.x) / p.scale);
    const double cy = std::floor((y - p.y) / p.scale);
    if (cx < 0 || cy < 0 || cx >= canvas_width || cy >= canvas_height) return std::nullopt;
    return CanvasPixel{static_cast<int>(cx), static_cast<int>(cy)};
}

BoxSize file_box_size(BoxSize wanted, BoxSize room, BoxSize least) {
    BoxSize size = wanted;
    if (room.width > 0) size.width = std::min(size.width, room.width * 9 / 10);
    if (room.height > 0) size.height = std::min(size.height, room.height * 9 / 10);
    return {std::max(size.width, least.width), std::max(size.height, least.height)};
}

int opening_scale(double device_pixel_ratio) {
    if (!std::isfinite(device_pixel_ratio) || device_pixel_ratio < 1.5) return 1;
    return static_cast<int>(std::min(std::lround(device_pixel_ratio), 8L));
}

} // namespace korax

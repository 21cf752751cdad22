// The palette-indexed pixel image and the sixteen colours it is shown with.
// Drawing itself lives in Window; the canvas only stores and fills pixels.
#include "window/canvas.h"

#include <algorithm>
#include <cassert>

namespace korax {

const std::array<Rgb, 16>& palette() {
    // The classic text-mode colours; 6 is brown rather than dark yellow.
    static const std::array<Rgb, 16> colours{{
        {0, 0, 0},
        {0, 0, 170},
        {0, 170, 0},
        {0, 170, 170},
        {170, 0, 0},
        {170, 0, 170},
        {170, 85, 0},
        {170, 170, 170},
        {85, 85, 85},
        {85, 85, 255},
        {85, 255, 85},
        {85, 255, 255},
        {255, 85, 85},
        {255, 85, 255},
        {255, 255, 85},
        {255, 255, 255},
    }};
    return colours;
}

void Canvas::resize(int width, int height) {
    assert(width >= 0 && height >= 0 && "canvas size must not be negative");
    m_width = width;
    m_height = height;
    m_pixels.assign(std::size_t(width) * std::size_t(height), 0);
}

void Canvas::fill(std::uint8_t c) {
    std::fill(m_pixels.begin(), m_pixels.end(), c);
}

void Canvas::fill_rect(const Rect& r, std::uint8_t c) {
    const int x1 = std::max(r.x1, 0), y1 = std::max(r.y1, 0);
    const int x2 = std::min(r.x2, m_width - 1), y2 = std::min(r.y2, m_height - 1);
    if (x2 < x1 || y2 < y1) return;
    for (int y = y1; y <= y2; ++y)
        std::fill(row(y) + x1, row(y) + x2 + 1, c);
}

} // namespace korax

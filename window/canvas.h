// A palette-indexed pixel image: one byte per pixel holding a colour index 0..15.
// Front-ends show it through a 16-entry colour table (Palette).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace korax {

struct Rect {
    int x1 = 0, y1 = 0, x2 = -1, y2 = -1; // corners included; empty when x2 < x1
    bool empty() const { return x2 < x1 || y2 < y1; }
};

struct Rgb {
    std::uint8_t r, g, b;
};

// The usual PC text-mode colours: 0 black, 1 blue ... 15 bright white.
const std::array<Rgb, 16>& palette();

class Canvas {
  public:
    Canvas() = default;
    Canvas(int width, int height) { resize(width, height); }
    void resize(int width, int height);
    int width() const { return m_width; }
    int height() const { return m_height; }
    std::uint8_t pixel(int x, int y) const { return m_pixels[std::size_t(y) * m_width + x]; }
    void set_pixel(int x, int y, std::uint8_t c) { m_pixels[std::size_t(y) * m_width + x] = c; }
    std::uint8_t* row(int y) { return m_pixels.data() + std::size_t(y) * m_width; }
    const std::uint8_t* row(int y) const { return m_pixels.data() + std::size_t(y) * m_width; }
    const std::vector<std::uint8_t>& pixels() const { return m_pixels; }
    void fill(std::uint8_t c);
    void fill_rect(const Rect& r, std::uint8_t c);

  private:
    int m_width = 0, m_height = 0;
    std::vector<std::uint8_t> m_pixels;
};

} // namespace korax

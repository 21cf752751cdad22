// The window's graphics: the plot coordinate mapping, clipping, lines with
// their style and write mode, rectangles, flood fill and text in the graphics
// font. Far or non-finite coordinates are clipped in floating point before any
// pixel is touched, so a wild value costs no more than a line across the window.
#include "window/window.h"

#include "base/utf8.h"
#include "window/fonts.h"
#include "window/raster_rules.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <vector>

namespace korax {

using raster::far_bound;
using raster::hold_finite;
using raster::near_margin;
using raster::round_pixel;

void Window::set_color(int color) {
    assert(color >= 0 && color <= 15);
    m_state.color = color & 15;
}

void Window::set_plot_area(int x1, int y1, int x2, int y2) {
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    m_state.area_x1 = std::clamp(x1, 0, width() - 1);
    m_state.area_y1 = std::clamp(y1, 0, height() - 1);
    m_state.area_x2 = std::clamp(x2, 0, width() - 1);
    m_state.area_y2 = std::clamp(y2, 0, height() - 1);
    update_scale();
}

void Window::set_plot_coords(double x1, double y1, double x2, double y2) {
    m_state.wx1 = x1;
    m_state.wy1 = y1;
    m_state.wx2 = x2;
    m_state.wy2 = y2;
    update_scale();
}

void Window::update_scale() {
    // A degenerate range maps everything onto the left or bottom edge rather
    // than dividing by zero.
    m_sx = m_state.wx2 != m_state.wx1
               ? double(m_state.area_x2 - m_state.area_x1) / (m_state.wx2 - m_state.wx1)
               : 0.0;
    m_sy = m_state.wy2 != m_state.wy1
               ? double(m_state.area_y2 - m_state.area_y1) / (m_state.wy2 - m_state.wy1)
               : 0.0;
    if (!std::isfinite(m_sx)) m_sx = 0.0;
    if (!std::isfinite(m_sy)) m_sy = 0.0;
}

// A non-finite coordinate stays non-finite (nothing is drawn to or from it); a
// finite one whose pixel overflows is held far outside, keeping its side.
double Window::map_x(double x) const {
    if (!std::isfinite(x)) return std::numeric_limits<double>::quiet_NaN();
    return hold_finite((x - m_state.wx1) * m_sx + m_state.area_x1);
}

double Window::map_y(double y) const {
    if (!std::isfinite(y)) return std::numeric_limits<double>::quiet_NaN();
    return hold_finite(m_state.area_y2 - (y - m_state.wy1) * m_sy);
}

int Window::to_pixel_x(double x) const {
    const double v = map_x(x);
    if (std::isnan(v)) return m_state.area_x1;
    return round_pixel(std::clamp(v, -1e9, 1e9));
}

int Window::to_pixel_y(double y) const {
    const double v = map_y(y);
    if (std::isnan(v)) return m_state.area_y2;
    return round_pixel(std::clamp(v, -1e9, 1e9));
}

void Window::move_to_px(int x, int y) {
    m_state.gx = double(m_state.area_x1) + x;
    m_state.gy = double(m_state.area_y1) + y;
    m_style_phase = 0;
}

void Window::line_to_px(int x, int y) {
    const double tx = double(m_state.area_x1) + x, ty = double(m_state.area_y1) + y;
    draw_segment(m_state.gx, m_state.gy, tx, ty);
    m_state.gx = tx;
    m_state.gy = ty;
}

void Window::vertical_run_px(int x, int y1, int y2) {
    const long long wx = static_cast<long long>(m_state.area_x1) + x;
    if (wx < m_state.area_x1 || wx > m_state.area_x2) return;
    long long top = static_cast<long long>(m_state.area_y1) + std::min(y1, y2);
    long long bottom = static_cast<long long>(m_state.area_y1) + std::max(y1, y2);
    top = std::max<long long>(top, m_state.area_y1);
    bottom = std::min<long long>(bottom, m_state.area_y2);
    if (top > bottom) return;
    const auto column = static_cast<int>(wx);
    const auto color = static_cast<std::uint8_t>(m_state.color);
    for (auto y = static_cast<int>(top); y <= static_cast<int>(bottom); ++y) {
        std::uint8_t& p = m_canvas.row(y)[column];
        p = m_state.write_mode == WriteMode::Xor ? static_cast<std::uint8_t>(p ^ color) : color;
    }
    mark_dirty(column, static_cast<int>(top), column, static_cast<int>(bottom));
}

void Window::move_to(double x, double y) {
    m_state.gx = map_x(x);
    m_state.gy = map_y(y);
    m_style_phase = 0;
}

void Window::line_to(double x, double y) {
    const double tx = map_x(x), ty = map_y(y);
    draw_segment(m_state.gx, m_state.gy, tx, ty);
    m_state.gx = tx;
    m_state.gy = ty;
}

bool Window::near_window(double x, double y) const {
    return x >= -near_margin && x <= width() + near_margin && y >= -near_margin &&
           y <= height() + near_margin;
}

void Window::draw_segment(double x0, double y0, double x1, double y1) {
    if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))) return;
    if (near_window(x0, y0) && near_window(x1, y1)) {
        raw_line(round_pixel(x0), round_pixel(y0), round_pixel(x1), round_pixel(y1));
        return;
    }
    // An end far out is brought nearer along the line from the other end, which
    // keeps the direction; when both are far out, each coordinate is held, which
    // keeps horizontal and vertical lines exact.
    auto far = [](double x, double y) {
        return std::fabs(x) > far_bound || std::fabs(y) > far_bound;
    };
    auto pull = [](double& fx, double& fy, double nx, double ny) {
        const double dx = fx - nx, dy = fy - ny;
        const double s = far_bound / std::max(std::fabs(dx), std::fabs(dy));
        fx = nx + dx * s;
        fy = ny + dy * s;
    };
    const bool far0 = far(x0, y0), far1 = far(x1, y1);
    if (far0 && far1) {
        x0 = std::clamp(x0, -far_bound, far_bound);
        y0 = std::clamp(y0, -far_bound, far_bound);
        x1 = std::clamp(x1, -far_bound, far_bound);
        y1 = std::clamp(y1, -far_bound, far_bound);
    } else if (far1) {
        pull(x1, y1, x0, y0);
    } else if (far0) {
        pull(x0, y0, x1, y1);
    }
    // Liang-Barsky against the plot area widened by two pixels: a clipped end
    // then lies outside the area, so leaving out the end point changes nothing.
    const double left = m_state.area_x1 - 2.0, right = m_state.area_x2 + 2.0;
    const double top = m_state.area_y1 - 2.0, bottom = m_state.area_y2 + 2.0;
    const double dx = x1 - x0, dy = y1 - y0;
    double t0 = 0.0, t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - left, right - x0, y0 - top, bottom - y0};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0.0) {
            if (q[k] < 0.0) return;
            continue;
        }
        const double t = q[k] / p[k];
        if (p[k] < 0.0) {
            if (t > t1) return;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return;
            t1 = std::min(t1, t);
        }
    }
    const double cx0 = x0 + t0 * dx, cy0 = y0 + t0 * dy;
    const double cx1 = t1 < 1.0 ? x0 + t1 * dx : x1, cy1 = t1 < 1.0 ? y0 + t1 * dy : y1;
    if (!near_window(cx0, cy0) || !near_window(cx1, cy1)) return;
    raw_line(round_pixel(cx0), round_pixel(cy0), round_pixel(cx1), round_pixel(cy1));
}

void Window::raw_line(int x0, int y0, int x1, int y1) {
    // Bresenham over every octant; the end point is left out so that the next
    // segment of a polyline (or a closing edge in exclusive-or) does not draw
    // it a second time. The style phase runs on over clipped pixels too.
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    long long err = static_cast<long long>(dx) + dy;
    int x = x0, y = y0;
    const bool solid = m_state.line_style == 0xFFFF;
    bool drew = false;
    while (x != x1 || y != y1) {
        if (solid || ((m_state.line_style >> (15 - m_style_phase)) & 1)) {
            if (x >= m_state.area_x1 && x <= m_state.area_x2 && y >= m_state.area_y1 &&
                y <= m_state.area_y2) {
                plot_pixel(x, y);
                drew = true;
            }
        }
        m_style_phase = (m_style_phase + 1) & 15;
        const long long e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    if (drew)
        mark_dirty(std::max(std::min(x0, x1), m_state.area_x1),
                   std::max(std::min(y0, y1), m_state.area_y1),
                   std::min(std::max(x0, x1), m_state.area_x2),
                   std::min(std::max(y0, y1), m_state.area_y2));
}

void Window::plot_pixel(int x, int y) {
    if (x < m_state.area_x1 || x > m_state.area_x2 || y < m_state.area_y1 || y > m_state.area_y2)
        return;
    std::uint8_t& p = m_canvas.row(y)[x];
    if (m_state.write_mode == WriteMode::Xor)
        p = static_cast<std::uint8_t>(p ^ m_state.color);
    else
        p = static_cast<std::uint8_t>(m_state.color);
}

void Window::polyline(std::span<const double> x, std::span<const double> y) {
    assert(x.size() == y.size() && "polyline needs as many x as y values");
    if (x.empty()) return;
    move_to(x[0], y[0]);
    for (std::size_t i = 1; i < x.size(); ++i)
        line_to(x[i], y[i]);
}

void Window::rectangle(Fill fill, double x1, double y1, double x2, double y2) {
    if (fill == Fill::Outline) {
        // Each edge leaves out its end point, so every corner is drawn exactly
        // once and an exclusive-or outline drawn twice disappears.
        const double keep_x = m_state.gx, keep_y = m_state.gy;
        const int keep_phase = m_style_phase;
        move_to(x1, y1);
        line_to(x2, y1);
        line_to(x2, y2);
        line_to(x1, y2);
        line_to(x1, y1);
        m_state.gx = keep_x;
        m_state.gy = keep_y;
        m_style_phase = keep_phase;
        return;
    }
    const double a = map_x(x1), b = map_x(x2), c = map_y(y1), d = map_y(y2);
    if (std::isnan(a) || std::isnan(b) || std::isnan(c) || std::isnan(d)) return;
    const int left = round_pixel(std::clamp(std::min(a, b), -1e6, 1e6));
    const int right = round_pixel(std::clamp(std::max(a, b), -1e6, 1e6));
    const int top = round_pixel(std::clamp(std::min(c, d), -1e6, 1e6));
    const int bottom = round_pixel(std::clamp(std::max(c, d), -1e6, 1e6));
    const int xa = std::max(left, m_state.area_x1), xb = std::min(right, m_state.area_x2);
    const int ya = std::max(top, m_state.area_y1), yb = std::min(bottom, m_state.area_y2);
    if (xa > xb || ya > yb) return;
    for (int yy = ya; yy <= yb; ++yy)
        for (int xx = xa; xx <= xb; ++xx)
            plot_pixel(xx, yy);
    mark_dirty(xa, ya, xb, yb);
}

void Window::flood_fill(int x, int y, int boundary) {
    // Scanline fill with a visited map, so that pixels already in the fill
    // colour do not stop it: everything 4-connected to the seed that is not the
    // boundary colour is painted, within the plot area.
    const int sx = m_state.area_x1 + x, sy = m_state.area_y1 + y;
    if (sx < m_state.area_x1 || sx > m_state.area_x2 || sy < m_state.area_y1 ||
        sy > m_state.area_y2)
        return;
    const auto wall = static_cast<std::uint8_t>(boundary);
    const auto colour = static_cast<std::uint8_t>(m_state.color);
    const int aw = m_state.area_x2 - m_state.area_x1 + 1,
              ah = m_state.area_y2 - m_state.area_y1 + 1;
    std::vector<std::uint8_t> seen(std::size_t(aw) * std::size_t(ah), 0);
    auto visited = [&](int px, int py) -> std::uint8_t& {
        return seen[std::size_t(py - m_state.area_y1) * std::size_t(aw) +
                    std::size_t(px - m_state.area_x1)];
    };
    auto open = [&](int px, int py) { return !visited(px, py) && m_canvas.row(py)[px] != wall; };
    std::vector<std::pair<int, int>> stack{{sx, sy}};
    while (!stack.empty()) {
        const auto [px, py] = stack.back();
        stack.pop_back();
        if (!open(px, py)) continue;
        int l = px, r = px;
        while (l > m_state.area_x1 && open(l - 1, py))
            --l;
        while (r < m_state.area_x2 && open(r + 1, py))
            ++r;
        std::uint8_t* line = m_canvas.row(py);
        for (int i = l; i <= r; ++i) {
            visited(i, py) = 1;
            line[i] = colour;
        }
        mark_dirty(l, py, r, py);
        for (int ny : {py - 1, py + 1}) {
            if (ny < m_state.area_y1 || ny > m_state.area_y2) continue;
            bool in_span = false;
            for (int i = l; i <= r; ++i) {
                const bool o = open(i, ny);
                if (o && !in_span) stack.emplace_back(i, ny);
                in_span = o;
            }
        }
    }
}

void Window::set_line_style(std::uint16_t mask) {
    m_state.line_style = mask;
    m_style_phase = 0;
}

void Window::set_write_mode(WriteMode mode) {
    m_state.write_mode = mode;
}

void Window::draw_text(std::string_view text) {
    if (!std::isfinite(m_state.gx) || !std::isfinite(m_state.gy) ||
        !near_window(m_state.gx, m_state.gy))
        return;
    int pen = round_pixel(m_state.gx);
    const int baseline = round_pixel(m_state.gy) + m_fonts->graphics_ascent();
    for (std::size_t at = 0; at < text.size();) {
        const Glyph* g = m_fonts->graphics_glyph(next_character(text, at));
        if (!g) return;
        const int gx = pen + g->left, gy = baseline - g->top;
        for (int j = 0; j < g->height; ++j)
            for (int i = 0; i < g->width; ++i)
                if (g->bits[std::size_t(j) * std::size_t(g->width) + std::size_t(i)])
                    plot_pixel(gx + i, gy + j);
        mark_dirty(std::max(gx, m_state.area_x1), std::max(gy, m_state.area_y1),
                   std::min(gx + g->width - 1, m_state.area_x2),
                   std::min(gy + g->height - 1, m_state.area_y2));
        pen += g->advance;
        if (pen > m_state.area_x2 + 1) break;
    }
}

} // namespace korax

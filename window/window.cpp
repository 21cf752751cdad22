// The window: text records, the character grid, lines, fills and glyphs on the
// canvas, and the hand-over to the front-end. Everything the program shows goes
// through here, so the picture is the same on screen and in off-screen runs.
#include "window/window.h"

#include "base/utf8.h"
#include "window/cancel.h"
#include "window/fonts.h"
#include "window/frontend.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korax {

namespace {

Window* current_window = nullptr;

// Pixel coordinates further than this outside the window are never rasterised
// directly: such a line is first clipped in floating point, so that a wild value
// costs no more than a line across the window.
constexpr double near_margin = 8192.0;
// Mapped coordinates are held within this bound so that their differences
// stay finite.
constexpr double huge_bound = 1e300;
// Before clipping, a far end is pulled along its line to within this distance,
// so that the clipped points keep sub-pixel precision.
constexpr double far_bound = 1e9;

// The rounding rule of the plot coordinate mapping: nearest pixel, halves
// going to the larger coordinate. Callers hold v within +-1e9.
inline int round_pixel(double v) {
    assert(std::fabs(v) <= 1e9 && "round_pixel takes coordinates near the window");
    const double h = v + 0.5;
    int r = static_cast<int>(h); // toward zero; one less below zero gives the floor
    if (static_cast<double>(r) > h) --r;
    return r;
}

// Smallest and largest of n >= 1 values. A long trace spends most of its time
// here, so wider vector units are used where the processor has them.
__attribute__((target_clones("avx2", "default"))) void
min_max(const std::int32_t* v, std::size_t n, std::int32_t& low, std::int32_t& high) {
    std::int32_t lo = v[0], hi = v[0];
    for (std::size_t i = 1; i < n; ++i) {
        lo = v[i] < lo ? v[i] : lo;
        hi = v[i] > hi ? v[i] : hi;
    }
    low = lo;
    high = hi;
}

// True when every x lies in [low, high] (a NaN does not).
bool within(std::span<const double> x, double low, double high) {
    std::size_t i = 0;
    bool inside = true;
#if defined(__SSE2__)
    // Two at a time: this reads every x of a long trace.
    const __m128d lo = _mm_set1_pd(low), hi = _mm_set1_pd(high);
    __m128d all = _mm_castsi128_pd(_mm_set1_epi32(-1));
    for (; i + 2 <= x.size(); i += 2) {
        const __m128d v = _mm_loadu_pd(x.data() + i);
        all = _mm_and_pd(all, _mm_and_pd(_mm_cmpge_pd(v, lo), _mm_cmple_pd(v, hi)));
    }
    inside = _mm_movemask_pd(all) == 3;
#endif
    for (; i < x.size(); ++i)
        inside &= x[i] >= low && x[i] <= high;
    return inside;
}

inline double hold_finite(double v) {
    return std::clamp(v, -huge_bound, huge_bound);
}

} // namespace

Window& window() {
    assert(current_window && "window() used before the window was set up");
    return *current_window;
}

void set_window(Window* w) {
    current_window = w;
}

Window::Window(FrontEnd& front_end)
    : m_front_end(front_end), m_fonts(std::make_unique<FontCache>()) {}

Window::~Window() = default;

// ---- geometry ------------------------------------------------------------------

void Window::set_geometry(int width, int height, int rows) {
    assert(width > 0 && height > 0 && rows > 0 && "window geometry must be positive");
    m_canvas.resize(width, height);
    m_grid.resize(rows);
    m_area_x1 = 0;
    m_area_y1 = 0;
    m_area_x2 = width - 1;
    m_area_y2 = height - 1;
    m_row = 1;
    m_column = 1;
    m_pending_new_row = false;
    m_gx = 0;
    m_gy = 0;
    update_scale();
    m_fonts->set_text_font(m_text_font_name, m_text_font_attributes, cell_width(), cell_height());
    m_dirty = Rect{0, 0, width - 1, height - 1};
    m_front_end.resized(width, height);
}

int Window::cell_width() const {
    return width() / columns;
}

int Window::column_x(int column) const {
    // The 80 columns share the whole width: a width that is not a multiple of
    // 80 gives cells one pixel wider here and there instead of a grid that
    // stops short of the right edge (and scale labels that miss their ticks).
    return int(std::int64_t(column - 1) * width() / columns);
}

int Window::cell_height() const {
    return rows() > 0 ? height() / rows() : 0;
}

// ---- text ----------------------------------------------------------------------

void Window::clear_window() {
    m_canvas.fill(static_cast<std::uint8_t>(m_text_background));
    m_grid.clear();
    m_row = 1;
    m_column = 1;
    m_pending_new_row = false;
    mark_dirty(0, 0, width() - 1, height() - 1);
}

void Window::clear_plot_area() {
    m_canvas.fill_rect(Rect{m_area_x1, m_area_y1, m_area_x2, m_area_y2},
                       static_cast<std::uint8_t>(m_text_background));
    mark_dirty(m_area_x1, m_area_y1, m_area_x2, m_area_y2);
    // Characters whose cell the clearing covers (judged by the cell's centre)
    // are gone from the picture, so they leave the text grid too.
    const int ch = cell_height();
    if (cell_width() <= 0 || ch <= 0) return;
    for (int row = 1; row <= rows(); ++row) {
        const int cy = (row - 1) * ch + ch / 2;
        if (cy < m_area_y1 || cy > m_area_y2) continue;
        for (int column = 1; column <= columns; ++column) {
            const int x0 = column_x(column);
            const int cx = x0 + (column_x(column + 1) - x0) / 2;
            if (cx >= m_area_x1 && cx <= m_area_x2) m_grid.set(row, column, ' ');
        }
    }
}

void Window::set_text_position(int row, int column) {
    assert(row >= 1 && column >= 1 && "text positions count from 1");
    m_row = std::clamp(row, 1, std::max(rows(), 1));
    m_column = std::clamp(column, 1, columns);
    m_pending_new_row = false;
}

void Window::set_text_color(int color) {
    assert(color >= 0 && color <= 15);
    m_text_color = color & 15;
}

void Window::set_text_background(int color) {
    assert(color >= 0 && color <= 15);
    m_text_background = color & 15;
}

void Window::set_text_cursor(bool on) {
    m_text_cursor = on;
}

void Window::write_chars(std::string_view text) {
    for (std::size_t i = 0; i < text.size() && m_column <= columns;) {
        put_char_cell(m_row, m_column, next_character(text, i));
        ++m_column;
    }
    m_column = std::min(m_column, columns);
    m_pending_new_row = true;
}

void Window::write_line(std::string_view text, LineEnd end) {
    // The new row is taken only when the next record arrives, so that a record
    // written on the last row does not scroll the screen before it is needed.
    if (m_pending_new_row) new_row();
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = next_character(text, i);
        if (m_column > columns) new_row();
        put_char_cell(m_row, m_column, c);
        ++m_column;
    }
    m_pending_new_row = end == LineEnd::NewLine;
}

std::string Window::read_line() {
    if (m_pending_new_row) new_row();
    m_pending_new_row = false;
    std::string line;
    for (;;) {
        const int k = next_key();
        if (k == 13) break;
        cancel_on_escape(k);
        if (k == 0 || k == 224) {
            // A key without a character has no place in a typed line; a dropped
            // file may stand for the whole answer.
            if (next_key() == KEY_DROP && m_drop_as_typed_line) {
                line = typed_drop(line);
                break;
            }
            continue;
        }
        if (k == 8) {
            if (line.empty()) continue;
            drop_last_character(line);
            unecho_character();
            continue;
        }
        // Codes 128..255 from a front-end that sends Latin-1 are its characters.
        const char32_t c = k >= text_key_base ? char32_t(k - text_key_base) : char32_t(k);
        // Other control codes (ESC, TAB, ...) would only corrupt the answer.
        if (k < 32 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || (c >= 127 && c < 160))
            continue;
        echo_character(c);
        append_utf8(line, c);
    }
    m_pending_new_row = true;
    return line;
}

void Window::new_row() {
    m_column = 1;
    m_pending_new_row = false;
    if (m_row < rows())
        ++m_row;
    else
        scroll_up();
}

void Window::scroll_up() {
    const int ch = cell_height();
    const int w = width(), h = height();
    if (ch <= 0 || ch > h) return;
    std::copy(m_canvas.row(ch), m_canvas.row(0) + std::size_t(w) * std::size_t(h), m_canvas.row(0));
    // Everything from the top of the last text row down is new, including any
    // pixel rows below the grid when the height is not a whole number of rows.
    m_canvas.fill_rect(Rect{0, (rows() - 1) * ch, w - 1, h - 1},
                       static_cast<std::uint8_t>(m_text_background));
    m_grid.scroll_up();
    mark_dirty(0, 0, w - 1, h - 1);
}

void Window::put_char_cell(int row, int column, char32_t c) {
    if (row < 1 || row > rows() || column < 1 || column > columns) return;
    m_grid.set(row, column, c);
    const int ch = cell_height();
    const int x0 = column_x(column), cw = column_x(column + 1) - x0, y0 = (row - 1) * ch;
    m_canvas.fill_rect(Rect{x0, y0, x0 + cw - 1, y0 + ch - 1},
                       static_cast<std::uint8_t>(m_text_background));
    mark_dirty(x0, y0, x0 + cw - 1, y0 + ch - 1);
    if (c == ' ') return;
    const Glyph* g = m_fonts->text_glyph(c);
    if (!g) return;
    const int gx = x0 + g->left;
    const int gy = y0 + m_fonts->text_ascent() - g->top;
    const auto colour = static_cast<std::uint8_t>(m_text_color);
    // Glyphs stay inside their cell so that a neighbour is never touched.
    for (int j = 0; j < g->height; ++j) {
        const int y = gy + j;
        if (y < y0 || y >= y0 + ch || y >= height()) continue;
        std::uint8_t* line = m_canvas.row(y);
        for (int i = 0; i < g->width; ++i) {
            const int x = gx + i;
            if (x < x0 || x >= x0 + cw || x >= width()) continue;
            if (g->bits[std::size_t(j) * std::size_t(g->width) + std::size_t(i)]) line[x] = colour;
        }
    }
}

Rect Window::text_cursor_bar() const {
    if (m_row < 1 || m_row > rows() || m_column < 1 || m_column > columns) return Rect{};
    const int ch = cell_height();
    const int x0 = column_x(m_column), x1 = column_x(m_column + 1) - 1, y1 = m_row * ch - 1;
    const int y0 = std::max(y1 - 1, (m_row - 1) * ch);
    return Rect{x0, y0, x1, y1};
}

std::uint8_t Window::text_cursor_mask() const {
    // Exclusive-or with text colour ^ background turns the background under
    // the bar into the text colour, so the bar looks like the typed text on
    // whatever colours a prompt uses (black on grey included, which a plain
    // exclusive-or with the text colour 0 leaves unchanged). Where text and
    // background are alike, bright white still changes every pixel.
    const int mask = m_text_color ^ m_text_background;
    return static_cast<std::uint8_t>(mask != 0 ? mask : 15);
}

void Window::toggle_text_cursor(const Rect& bar, std::uint8_t mask) {
    // Exclusive-or: the same call shows and removes the bar.
    if (bar.empty()) return;
    for (int y = bar.y1; y <= bar.y2; ++y)
        for (int x = bar.x1; x <= bar.x2; ++x)
            m_canvas.set_pixel(x, y, static_cast<std::uint8_t>(m_canvas.pixel(x, y) ^ mask));
    mark_dirty(bar.x1, bar.y1, bar.x2, bar.y2);
}

// ---- graphics ------------------------------------------------------------------

void Window::set_color(int color) {
    assert(color >= 0 && color <= 15);
    m_color = color & 15;
}

void Window::set_plot_area(int x1, int y1, int x2, int y2) {
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    m_area_x1 = std::clamp(x1, 0, width() - 1);
    m_area_y1 = std::clamp(y1, 0, height() - 1);
    m_area_x2 = std::clamp(x2, 0, width() - 1);
    m_area_y2 = std::clamp(y2, 0, height() - 1);
    update_scale();
}

void Window::set_plot_coords(double x1, double y1, double x2, double y2) {
    m_wx1 = x1;
    m_wy1 = y1;
    m_wx2 = x2;
    m_wy2 = y2;
    update_scale();
}

void Window::update_scale() {
    // A degenerate range maps everything onto the left or bottom edge rather
    // than dividing by zero.
    m_sx = m_wx2 != m_wx1 ? double(m_area_x2 - m_area_x1) / (m_wx2 - m_wx1) : 0.0;
    m_sy = m_wy2 != m_wy1 ? double(m_area_y2 - m_area_y1) / (m_wy2 - m_wy1) : 0.0;
    if (!std::isfinite(m_sx)) m_sx = 0.0;
    if (!std::isfinite(m_sy)) m_sy = 0.0;
}

// A non-finite coordinate stays non-finite (nothing is drawn to or from it); a
// finite one whose pixel overflows is held far outside, keeping its side.
double Window::map_x(double x) const {
    if (!std::isfinite(x)) return std::numeric_limits<double>::quiet_NaN();
    return hold_finite((x - m_wx1) * m_sx + m_area_x1);
}

double Window::map_y(double y) const {
    if (!std::isfinite(y)) return std::numeric_limits<double>::quiet_NaN();
    return hold_finite(m_area_y2 - (y - m_wy1) * m_sy);
}

int Window::to_pixel_x(double x) const {
    const double v = map_x(x);
    if (std::isnan(v)) return m_area_x1;
    return round_pixel(std::clamp(v, -1e9, 1e9));
}

int Window::to_pixel_y(double y) const {
    const double v = map_y(y);
    if (std::isnan(v)) return m_area_y2;
    return round_pixel(std::clamp(v, -1e9, 1e9));
}

void Window::move_to_px(int x, int y) {
    m_gx = double(m_area_x1) + x;
    m_gy = double(m_area_y1) + y;
    m_style_phase = 0;
}

void Window::line_to_px(int x, int y) {
    const double tx = double(m_area_x1) + x, ty = double(m_area_y1) + y;
    draw_segment(m_gx, m_gy, tx, ty);
    m_gx = tx;
    m_gy = ty;
}

void Window::vertical_run_px(int x, int y1, int y2) {
    const long long wx = static_cast<long long>(m_area_x1) + x;
    if (wx < m_area_x1 || wx > m_area_x2) return;
    long long top = static_cast<long long>(m_area_y1) + std::min(y1, y2);
    long long bottom = static_cast<long long>(m_area_y1) + std::max(y1, y2);
    top = std::max<long long>(top, m_area_y1);
    bottom = std::min<long long>(bottom, m_area_y2);
    if (top > bottom) return;
    const auto column = static_cast<int>(wx);
    const auto color = static_cast<std::uint8_t>(m_color);
    for (auto y = static_cast<int>(top); y <= static_cast<int>(bottom); ++y) {
        std::uint8_t& p = m_canvas.row(y)[column];
        p = m_write_mode == WriteMode::Xor ? static_cast<std::uint8_t>(p ^ color) : color;
    }
    mark_dirty(column, static_cast<int>(top), column, static_cast<int>(bottom));
}

void Window::move_to(double x, double y) {
    m_gx = map_x(x);
    m_gy = map_y(y);
    m_style_phase = 0;
}

void Window::line_to(double x, double y) {
    const double tx = map_x(x), ty = map_y(y);
    draw_segment(m_gx, m_gy, tx, ty);
    m_gx = tx;
    m_gy = ty;
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
    const double left = m_area_x1 - 2.0, right = m_area_x2 + 2.0;
    const double top = m_area_y1 - 2.0, bottom = m_area_y2 + 2.0;
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
    const bool solid = m_line_style == 0xFFFF;
    bool drew = false;
    while (x != x1 || y != y1) {
        if (solid || ((m_line_style >> (15 - m_style_phase)) & 1)) {
            if (x >= m_area_x1 && x <= m_area_x2 && y >= m_area_y1 && y <= m_area_y2) {
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
        mark_dirty(std::max(std::min(x0, x1), m_area_x1), std::max(std::min(y0, y1), m_area_y1),
                   std::min(std::max(x0, x1), m_area_x2), std::min(std::max(y0, y1), m_area_y2));
}

void Window::plot_pixel(int x, int y) {
    if (x < m_area_x1 || x > m_area_x2 || y < m_area_y1 || y > m_area_y2) return;
    std::uint8_t& p = m_canvas.row(y)[x];
    if (m_write_mode == WriteMode::Xor)
        p = static_cast<std::uint8_t>(p ^ m_color);
    else
        p = static_cast<std::uint8_t>(m_color);
}

void Window::polyline(std::span<const double> x, std::span<const std::int32_t> y, double y_low,
                      double y_high) {
    assert(x.size() == y.size() && "polyline needs as many x as y values");
    if (x.empty()) return;
    auto clamped = [&](std::size_t i) { return std::min(std::max(double(y[i]), y_low), y_high); };
    move_to(x[0], clamped(0));
    if (m_write_mode != WriteMode::Copy || m_line_style != 0xFFFF) {
        // Exclusive-or and dashes depend on every pixel of every segment.
        for (std::size_t i = 1; i < x.size(); ++i)
            line_to(x[i], clamped(i));
        return;
    }

    // Solid copy: only the union of the pixels matters. The points that fall
    // in one pixel column, one after the other, are joined by vertical segments
    // whose union is the column from their lowest to their highest pixel (each
    // is the start of a segment, so it is drawn); that run is drawn once when
    // the trace leaves the column, by an exact segment to the next column.
    // Only the end of the whole trace is left out, as line_to leaves it out.
    const auto colour = static_cast<std::uint8_t>(m_color);
    const double wx1 = m_wx1, wy1 = m_wy1, sx = m_sx, sy = m_sy;
    const double ax1 = m_area_x1, ay2 = m_area_y2;
    const double low_edge = -near_margin, right_edge = width() + near_margin,
                 bottom_edge = height() + near_margin;
    auto draw_run = [&](int column, int lo, int hi) {
        if (column < m_area_x1 || column > m_area_x2) return;
        lo = std::max(lo, m_area_y1);
        hi = std::min(hi, m_area_y2);
        for (int r = lo; r <= hi; ++r)
            m_canvas.row(r)[column] = colour;
    };

    auto near_pixel = [&](std::size_t i, int& qx, int& qy) {
        const double nx = map_x(x[i]), ny = map_y(clamped(i));
        if (!(nx >= low_edge && nx <= right_edge && ny >= low_edge && ny <= bottom_edge))
            return false;
        qx = round_pixel(nx);
        qy = round_pixel(ny);
        return true;
    };
    // Segments of no length at the end draw nothing, not even their start:
    // dropping them leaves a last segment that draws its start pixel.
    std::size_t n = x.size();
    const double end_x = map_x(x[n - 1]), end_y = map_y(clamped(n - 1));
    for (int ex, ey, bx, by;
         n > 1 && near_pixel(n - 1, ex, ey) && near_pixel(n - 2, bx, by) && ex == bx && ey == by;)
        --n;
    double fx = m_gx, fy = m_gy;
    bool near = fx >= low_edge && fx <= right_edge && fy >= low_edge && fy <= bottom_edge;
    // While `near`, the run is column run_x from lo to hi and holds the
    // previous point (px, py).
    int px = near ? round_pixel(fx) : 0, py = near ? round_pixel(fy) : 0;
    int run_x = px, lo = py, hi = py;

    // One point: the segment from the previous point to it.
    auto step = [&](std::size_t i) {
        const bool last = i + 1 == n;
        // The same arithmetic as map_x and map_y; a value that is not near
        // (non-finite ones included) takes the general path below.
        const double nx = (x[i] - wx1) * sx + ax1;
        const double ny = ay2 - (std::min(std::max(double(y[i]), y_low), y_high) - wy1) * sy;
        const bool next_near =
            nx >= low_edge && nx <= right_edge && ny >= low_edge && ny <= bottom_edge;
        if (near && next_near) {
            const int qx = round_pixel(nx), qy = round_pixel(ny);
            if (qx == run_x && !last) {
                lo = std::min(lo, qy);
                hi = std::max(hi, qy);
            } else if (qx == run_x) {
                // The last vertical segment stops short of the end point.
                if (qy > py) hi = std::max(hi, qy - 1);
                if (qy < py) lo = std::min(lo, qy + 1);
            } else {
                draw_run(run_x, lo, hi);
                raw_line(px, py, qx, qy);
                run_x = qx;
                lo = hi = qy;
                if (last) lo = hi + 1; // the end of the trace is not drawn
            }
            px = qx;
            py = qy;
            fx = nx;
            fy = ny;
        } else {
            if (near) draw_run(run_x, lo, hi);
            const double gx = map_x(x[i]), gy = map_y(clamped(i));
            draw_segment(fx, fy, gx, gy);
            fx = gx;
            fy = gy;
            if (next_near) {
                px = run_x = round_pixel(nx);
                py = lo = hi = round_pixel(ny);
                if (last) lo = hi + 1;
            }
        }
        near = next_near;
    };

    // A spectrum's x rises (or falls) steadily, so the points of one pixel
    // column follow each other: the end of a column's stretch is found by a
    // galloping search on the column, and the stretch's pixels come from its
    // highest and lowest intensity alone, since the mapping keeps their order.
    // Only the points around a change of column go through `step`. A stretch
    // whose x are not all between its first and last x is drawn by `step`.
    auto column_of = [&](std::size_t k) {
        const double v = (x[k] - wx1) * sx + ax1;
        if (v >= low_edge && v <= right_edge) return round_pixel(v);
        return v < low_edge ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
    };
    std::size_t k = 1;
    while (k < n) {
        if (!near || k + 1 >= n || column_of(k) != run_x) {
            step(k++);
            continue;
        }
        // Points k..j lie in column run_x and none is the end of the trace.
        std::size_t j = k, stride = 1;
        const std::size_t limit = n - 2;
        while (j + stride <= limit && column_of(j + stride) == run_x) {
            j += stride;
            stride *= 2;
        }
        std::size_t beyond = std::min(j + stride, limit + 1);
        while (beyond - j > 1) {
            const std::size_t mid = j + (beyond - j) / 2;
            if (column_of(mid) == run_x)
                j = mid;
            else
                beyond = mid;
        }
        std::int32_t y_min, y_max;
        min_max(y.data() + k, j - k + 1, y_min, y_max);
        const double a = ay2 - (std::min(std::max(double(y_min), y_low), y_high) - wy1) * sy;
        const double b = ay2 - (std::min(std::max(double(y_max), y_low), y_high) - wy1) * sy;
        if (!within(x.subspan(k, j - k + 1), std::min(x[k], x[j]), std::max(x[k], x[j])) ||
            !(a >= low_edge && a <= bottom_edge && b >= low_edge && b <= bottom_edge)) {
            for (; k <= j; ++k)
                step(k);
            continue;
        }
        const int pa = round_pixel(a), pb = round_pixel(b);
        lo = std::min({lo, pa, pb});
        hi = std::max({hi, pa, pb});
        fx = (x[j] - wx1) * sx + ax1;
        fy = ay2 - (std::min(std::max(double(y[j]), y_low), y_high) - wy1) * sy;
        px = run_x;
        py = round_pixel(fy);
        k = j + 1;
    }
    if (near && n > 1) draw_run(run_x, lo, hi);
    m_gx = end_x;
    m_gy = end_y;
    mark_dirty(m_area_x1, m_area_y1, m_area_x2, m_area_y2);
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
        const double keep_x = m_gx, keep_y = m_gy;
        const int keep_phase = m_style_phase;
        move_to(x1, y1);
        line_to(x2, y1);
        line_to(x2, y2);
        line_to(x1, y2);
        line_to(x1, y1);
        m_gx = keep_x;
        m_gy = keep_y;
        m_style_phase = keep_phase;
        return;
    }
    const double a = map_x(x1), b = map_x(x2), c = map_y(y1), d = map_y(y2);
    if (std::isnan(a) || std::isnan(b) || std::isnan(c) || std::isnan(d)) return;
    const int left = round_pixel(std::clamp(std::min(a, b), -1e6, 1e6));
    const int right = round_pixel(std::clamp(std::max(a, b), -1e6, 1e6));
    const int top = round_pixel(std::clamp(std::min(c, d), -1e6, 1e6));
    const int bottom = round_pixel(std::clamp(std::max(c, d), -1e6, 1e6));
    const int xa = std::max(left, m_area_x1), xb = std::min(right, m_area_x2);
    const int ya = std::max(top, m_area_y1), yb = std::min(bottom, m_area_y2);
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
    const int sx = m_area_x1 + x, sy = m_area_y1 + y;
    if (sx < m_area_x1 || sx > m_area_x2 || sy < m_area_y1 || sy > m_area_y2) return;
    const auto wall = static_cast<std::uint8_t>(boundary);
    const auto colour = static_cast<std::uint8_t>(m_color);
    const int aw = m_area_x2 - m_area_x1 + 1, ah = m_area_y2 - m_area_y1 + 1;
    std::vector<std::uint8_t> seen(std::size_t(aw) * std::size_t(ah), 0);
    auto visited = [&](int px, int py) -> std::uint8_t& {
        return seen[std::size_t(py - m_area_y1) * std::size_t(aw) + std::size_t(px - m_area_x1)];
    };
    auto open = [&](int px, int py) { return !visited(px, py) && m_canvas.row(py)[px] != wall; };
    std::vector<std::pair<int, int>> stack{{sx, sy}};
    while (!stack.empty()) {
        const auto [px, py] = stack.back();
        stack.pop_back();
        if (!open(px, py)) continue;
        int l = px, r = px;
        while (l > m_area_x1 && open(l - 1, py))
            --l;
        while (r < m_area_x2 && open(r + 1, py))
            ++r;
        std::uint8_t* line = m_canvas.row(py);
        for (int i = l; i <= r; ++i) {
            visited(i, py) = 1;
            line[i] = colour;
        }
        mark_dirty(l, py, r, py);
        for (int ny : {py - 1, py + 1}) {
            if (ny < m_area_y1 || ny > m_area_y2) continue;
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
    m_line_style = mask;
    m_style_phase = 0;
}

void Window::set_write_mode(WriteMode mode) {
    m_write_mode = mode;
}

// ---- fonts ---------------------------------------------------------------------

void Window::load_fonts() {
    m_fonts->load();
}

bool Window::select_font(std::string_view spec) {
    FontSpec parsed;
    if (!parse_font_spec(spec, parsed)) return false;
    m_fonts->select(parsed);
    return true;
}

void Window::set_text_font(std::string_view name, std::uint32_t attributes) {
    m_text_font_name = std::string(name);
    m_text_font_attributes = attributes;
    if (rows() > 0) m_fonts->set_text_font(name, attributes, cell_width(), cell_height());
}

void Window::draw_text(std::string_view text) {
    if (!std::isfinite(m_gx) || !std::isfinite(m_gy) || !near_window(m_gx, m_gy)) return;
    int pen = round_pixel(m_gx);
    const int baseline = round_pixel(m_gy) + m_fonts->graphics_ascent();
    for (std::size_t at = 0; at < text.size();) {
        const Glyph* g = m_fonts->graphics_glyph(next_character(text, at));
        if (!g) return;
        const int gx = pen + g->left, gy = baseline - g->top;
        for (int j = 0; j < g->height; ++j)
            for (int i = 0; i < g->width; ++i)
                if (g->bits[std::size_t(j) * std::size_t(g->width) + std::size_t(i)])
                    plot_pixel(gx + i, gy + j);
        mark_dirty(std::max(gx, m_area_x1), std::max(gy, m_area_y1),
                   std::min(gx + g->width - 1, m_area_x2), std::min(gy + g->height - 1, m_area_y2));
        pen += g->advance;
        if (pen > m_area_x2 + 1) break;
    }
}

// ---- keys, file box, ends -------------------------------------------------------

int Window::next_key() {
    // The bar goes before the key is awaited and comes off afterwards, even when
    // the run ends while waiting, so that a picture never keeps a stale cursor.
    const Rect bar = m_text_cursor ? text_cursor_bar() : Rect{};
    const std::uint8_t mask = text_cursor_mask();
    toggle_text_cursor(bar, mask);
    struct Remove {
        Window* w;
        Rect bar;
        std::uint8_t mask;
        ~Remove() {
            if (bar.empty()) return;
            w->m_front_end.text_cursor(Rect{}, 0);
            w->toggle_text_cursor(bar, mask);
        }
    } remove{this, bar, mask};
    flush();
    if (!bar.empty()) m_front_end.text_cursor(bar, mask);
    return next_code();
}

int Window::next_code() {
    for (;;) {
        int code = 0;
        try {
            code = m_front_end.wait_key();
        } catch (const CloseRequested&) {
            m_after_zero = false;
            // A second close while the question of the first is up means it.
            if (!m_close_handler || m_in_close_handler) normal_exit();
            struct Running {
                bool& flag;
                explicit Running(bool& f) : flag(f) { flag = true; }
                ~Running() { flag = false; }
            } running(m_in_close_handler);
            if (m_close_handler()) normal_exit();
            // The question may have been taken away again: show what is left.
            flush();
            continue;
        }
        if (m_after_zero) {
            m_after_zero = false;
            if (code == KEY_CLICK) {
                const CanvasPoint p = m_front_end.click_position();
                m_last_click = Point{p.x, p.y};
            } else if (code == KEY_DROP) {
                m_dropped_path = m_front_end.dropped_path();
            }
        } else {
            m_after_zero = code == 0 || code == 224;
        }
        return code;
    }
}

void Window::echo_character(char32_t c) {
    if (m_column > columns) new_row();
    put_char_cell(m_row, m_column, c);
    ++m_column;
}

void Window::unecho_character() {
    if (m_column > 1) {
        --m_column;
    } else if (m_row > 1) {
        --m_row;
        m_column = columns;
    }
    put_char_cell(m_row, m_column, ' ');
}

std::string Window::typed_drop(const std::string& typed) {
    // The echo of what was typed so far gives way to the dropped name.
    for (std::size_t i = character_count(typed); i > 0; --i)
        unecho_character();
    for (std::size_t i = 0; i < m_dropped_path.size();)
        echo_character(next_character(m_dropped_path, i));
    return m_dropped_path;
}

int Window::get_char() {
    const int k = next_key();
    if (k < text_key_base) return k;
    const int c = k - text_key_base;
    return c <= 0xFF && c != 224 ? c : other_character;
}

std::optional<std::string> Window::open_file_box(std::string_view filter_list) {
    flush();
    try {
        return m_front_end.open_file_box(parse_filter_list(filter_list));
    } catch (const CloseRequested&) {
        // The box cannot ask a question of its own; closing the main window
        // while it is up is the operator's way out of the whole run.
        normal_exit();
    }
}

void Window::set_close_handler(std::function<bool()> handler) {
    m_close_handler = std::move(handler);
}

void Window::set_title(std::string_view title) {
    m_title = std::string(title);
    m_front_end.set_title(m_title);
}

void Window::copy_to_clipboard(std::string_view text) {
    m_clipboard = std::string(text);
    m_front_end.copy_to_clipboard(m_clipboard);
}

Window::Snapshot Window::save_screen() const {
    Snapshot s;
    s.canvas = m_canvas;
    s.grid = m_grid;
    s.row = m_row;
    s.column = m_column;
    s.pending_new_row = m_pending_new_row;
    s.text_color = m_text_color;
    s.text_background = m_text_background;
    s.text_cursor = m_text_cursor;
    s.color = m_color;
    s.write_mode = m_write_mode;
    s.line_style = m_line_style;
    s.area_x1 = m_area_x1;
    s.area_y1 = m_area_y1;
    s.area_x2 = m_area_x2;
    s.area_y2 = m_area_y2;
    s.wx1 = m_wx1;
    s.wy1 = m_wy1;
    s.wx2 = m_wx2;
    s.wy2 = m_wy2;
    s.gx = m_gx;
    s.gy = m_gy;
    return s;
}

void Window::restore_screen(const Snapshot& s) {
    if (s.canvas.width() != width() || s.canvas.height() != height() || s.grid.rows() != rows())
        return;
    m_canvas = s.canvas;
    m_grid = s.grid;
    m_row = s.row;
    m_column = s.column;
    m_pending_new_row = s.pending_new_row;
    m_text_color = s.text_color;
    m_text_background = s.text_background;
    m_text_cursor = s.text_cursor;
    m_color = s.color;
    m_write_mode = s.write_mode;
    set_line_style(s.line_style);
    m_area_x1 = s.area_x1;
    m_area_y1 = s.area_y1;
    m_area_x2 = s.area_x2;
    m_area_y2 = s.area_y2;
    m_wx1 = s.wx1;
    m_wy1 = s.wy1;
    m_wx2 = s.wx2;
    m_wy2 = s.wy2;
    update_scale();
    m_gx = s.gx;
    m_gy = s.gy;
    mark_dirty(0, 0, width() - 1, height() - 1);
}

void Window::flush() {
    m_front_end.show(m_canvas, m_dirty);
    m_dirty = Rect{};
}

void Window::normal_exit() {
    flush();
    m_front_end.close();
    throw RunEnded{static_cast<int>(RunEnd::Normal)};
}

void Window::fatal_end() {
    flush();
    m_front_end.hold();
    throw RunEnded{static_cast<int>(RunEnd::Fatal)};
}

void Window::mark_dirty(int x1, int y1, int x2, int y2) {
    if (x2 < x1 || y2 < y1) return;
    if (m_dirty.empty()) {
        m_dirty = Rect{x1, y1, x2, y2};
        return;
    }
    m_dirty.x1 = std::min(m_dirty.x1, x1);
    m_dirty.y1 = std::min(m_dirty.y1, y1);
    m_dirty.x2 = std::max(m_dirty.x2, x2);
    m_dirty.y2 = std::max(m_dirty.y2, y2);
}

} // namespace korax

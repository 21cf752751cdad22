// The window: its geometry, text records on the character grid, the fonts, the
// saved screens and the hand-over to the front-end. Lines and fills are in
// window_raster.cpp, the fast path of long traces in window_trace.cpp, keys and
// typed lines in window_input.cpp. Everything the program shows goes through
// the Window, so the picture is the same on screen and in off-screen runs.
#include "window/window.h"

#include "base/utf8.h"
#include "window/cancel.h"
#include "window/fonts.h"
#include "window/frontend.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace korax {

namespace {

Window* current_window = nullptr;

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
    m_state.area_x1 = 0;
    m_state.area_y1 = 0;
    m_state.area_x2 = width - 1;
    m_state.area_y2 = height - 1;
    m_state.row = 1;
    m_state.column = 1;
    m_state.pending_new_row = false;
    m_state.gx = 0;
    m_state.gy = 0;
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
    m_canvas.fill(static_cast<std::uint8_t>(m_state.text_background));
    m_grid.clear();
    m_state.row = 1;
    m_state.column = 1;
    m_state.pending_new_row = false;
    mark_dirty(0, 0, width() - 1, height() - 1);
}

void Window::clear_plot_area() {
    m_canvas.fill_rect(Rect{m_state.area_x1, m_state.area_y1, m_state.area_x2, m_state.area_y2},
                       static_cast<std::uint8_t>(m_state.text_background));
    mark_dirty(m_state.area_x1, m_state.area_y1, m_state.area_x2, m_state.area_y2);
    // Characters whose cell the clearing covers (judged by the cell's centre)
    // are gone from the picture, so they leave the text grid too.
    const int ch = cell_height();
    if (cell_width() <= 0 || ch <= 0) return;
    for (int row = 1; row <= rows(); ++row) {
        const int cy = (row - 1) * ch + ch / 2;
        if (cy < m_state.area_y1 || cy > m_state.area_y2) continue;
        for (int column = 1; column <= columns; ++column) {
            const int x0 = column_x(column);
            const int cx = x0 + (column_x(column + 1) - x0) / 2;
            if (cx >= m_state.area_x1 && cx <= m_state.area_x2) m_grid.set(row, column, ' ');
        }
    }
}

void Window::set_text_position(int row, int column) {
    assert(row >= 1 && column >= 1 && "text positions count from 1");
    m_state.row = std::clamp(row, 1, std::max(rows(), 1));
    m_state.column = std::clamp(column, 1, columns);
    m_state.pending_new_row = false;
}

void Window::set_text_color(int color) {
    assert(color >= 0 && color <= 15);
    m_state.text_color = color & 15;
}

void Window::set_text_background(int color) {
    assert(color >= 0 && color <= 15);
    m_state.text_background = color & 15;
}

void Window::set_text_cursor(bool on) {
    m_state.text_cursor = on;
}

void Window::write_chars(std::string_view text) {
    for (std::size_t i = 0; i < text.size() && m_state.column <= columns;) {
        put_char_cell(m_state.row, m_state.column, next_character(text, i));
        ++m_state.column;
    }
    m_state.column = std::min(m_state.column, columns);
    m_state.pending_new_row = true;
}

void Window::write_line(std::string_view text, LineEnd end) {
    // The new row is taken only when the next record arrives, so that a record
    // written on the last row does not scroll the screen before it is needed.
    if (m_state.pending_new_row) new_row();
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = next_character(text, i);
        if (m_state.column > columns) new_row();
        put_char_cell(m_state.row, m_state.column, c);
        ++m_state.column;
    }
    m_state.pending_new_row = end == LineEnd::NewLine;
}

void Window::new_row() {
    m_state.column = 1;
    m_state.pending_new_row = false;
    if (m_state.row < rows())
        ++m_state.row;
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
                       static_cast<std::uint8_t>(m_state.text_background));
    m_grid.scroll_up();
    mark_dirty(0, 0, w - 1, h - 1);
}

void Window::put_char_cell(int row, int column, char32_t c) {
    if (row < 1 || row > rows() || column < 1 || column > columns) return;
    m_grid.set(row, column, c);
    const int ch = cell_height();
    const int x0 = column_x(column), cw = column_x(column + 1) - x0, y0 = (row - 1) * ch;
    m_canvas.fill_rect(Rect{x0, y0, x0 + cw - 1, y0 + ch - 1},
                       static_cast<std::uint8_t>(m_state.text_background));
    mark_dirty(x0, y0, x0 + cw - 1, y0 + ch - 1);
    if (c == ' ') return;
    const Glyph* g = m_fonts->text_glyph(c);
    if (!g) return;
    const int gx = x0 + g->left;
    const int gy = y0 + m_fonts->text_ascent() - g->top;
    const auto colour = static_cast<std::uint8_t>(m_state.text_color);
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
    if (m_state.row < 1 || m_state.row > rows() || m_state.column < 1 || m_state.column > columns)
        return Rect{};
    const int ch = cell_height();
    const int x0 = column_x(m_state.column), x1 = column_x(m_state.column + 1) - 1,
              y1 = m_state.row * ch - 1;
    const int y0 = std::max(y1 - 1, (m_state.row - 1) * ch);
    return Rect{x0, y0, x1, y1};
}

std::uint8_t Window::text_cursor_mask() const {
    // Exclusive-or with text colour ^ background turns the background under
    // the bar into the text colour, so the bar looks like the typed text on
    // whatever colours a prompt uses (black on grey included, which a plain
    // exclusive-or with the text colour 0 leaves unchanged). Where text and
    // background are alike, bright white still changes every pixel.
    const int mask = m_state.text_color ^ m_state.text_background;
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

void Window::set_title(std::string_view title) {
    m_title = std::string(title);
    m_front_end.set_title(m_title);
}

void Window::copy_to_clipboard(std::string_view text) {
    m_clipboard = std::string(text);
    m_front_end.copy_to_clipboard(m_clipboard);
}

Window::Snapshot Window::save_screen() const {
    return Snapshot{m_canvas, m_grid, m_state};
}

void Window::restore_screen(const Snapshot& s) {
    if (s.canvas.width() != width() || s.canvas.height() != height() || s.grid.rows() != rows())
        return;
    m_canvas = s.canvas;
    m_grid = s.grid;
    m_state = s.state;
    // A dash pattern starts afresh, as after set_line_style.
    m_style_phase = 0;
    update_scale();
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

// The one window every screen of KORAX is drawn in: an 80-column text grid and a
// palette-indexed pixel canvas at the same time. The core calls only this class;
// a FrontEnd (Qt window or the off-screen key-script player) shows the canvas and
// supplies keys and the file-open box.
#pragma once

#include "window/canvas.h"
#include "window/text_grid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

class FrontEnd;
class FontCache;

enum class WriteMode { Copy, Xor };
enum class LineEnd { NewLine, Stay };
enum class Fill { Outline, Solid };
// What ENTER on an empty line does where a typed name may also be chosen in
// the file-open box.
enum class EnterAlone { EndsLine, OpensBox };
// A name as typed, or as chosen in the file-open box.
struct TypedName {
    std::string text;
    bool chosen_in_box = false;
};

// Window events arrive like keys without a character, as the two codes 0 and
// one of these, so that INKEY gives minus the code and every wait that does
// not know them ignores them as it ignores any other extended key.
inline constexpr int KEY_WHEEL_UP = 0xF1;   // INKEY -241
inline constexpr int KEY_WHEEL_DOWN = 0xF2; // INKEY -242
inline constexpr int KEY_CLICK = 0xF3;      // INKEY -243; where: Window::last_click()
inline constexpr int KEY_DROP = 0xF4;       // INKEY -244; what: Window::dropped_path()

// How a run ended; also the exit status of `korax --play`.
enum class RunEnd : int { Normal = 0, Fatal = 1 };

// Thrown by Window::normal_exit and Window::fatal_end (and by a front-end whose
// window the operator closed, or whose key script ran out) so that the program
// unwinds to its entry point from wherever it stands.
struct RunEnded {
    int status;
};

// Everything a screen sets before it draws and expects to find again: the text
// position and colours, the graphics colour, line style and write mode, the
// plot area with its coordinates, and the graphics position.
struct DrawState {
    int row = 1, column = 1;
    // The next record starts on a new row (the last one ended with NewLine).
    bool pending_new_row = false;
    int text_color = 15, text_background = 0;
    bool text_cursor = false;
    int color = 15;
    WriteMode write_mode = WriteMode::Copy;
    std::uint16_t line_style = 0xFFFF;
    // Pixel rectangle of the plot area, corners included.
    int area_x1 = 0, area_y1 = 0, area_x2 = 0, area_y2 = 0;
    // Plot coordinates of the area's bottom-left and top-right corners.
    double wx1 = 0, wy1 = 0, wx2 = 1, wy2 = 1;
    // Graphics position in window pixels; a real so that a move far outside the
    // window (or to a non-finite value) is kept as it was given.
    double gx = 0, gy = 0;
};

class Window {
  public:
    explicit Window(FrontEnd& front_end);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // ---- geometry -------------------------------------------------------
    // Sizes the canvas to width x height pixels with `rows` text rows of 80
    // columns, clears it to colour 0 and tells the front-end. The plot area
    // becomes the whole window.
    void set_geometry(int width, int height, int rows);
    int width() const { return m_canvas.width(); }
    int height() const { return m_canvas.height(); }
    int rows() const { return m_grid.rows(); }
    static constexpr int columns = 80;
    int cell_width() const; // width / 80, the narrowest cell; the text font fits it
    // Left pixel of text column `column` (1..81; 81 gives the width): the
    // columns are spread over the whole width, floor((column - 1) * width / 80).
    int column_x(int column) const;
    int cell_height() const; // height / rows

    // ---- text -----------------------------------------------------------
    // Fills the whole window with the text background colour and puts the text
    // position at row 1, column 1.
    void clear_window();
    // Fills only the plot area with the text background colour.
    void clear_plot_area();
    void set_text_position(int row, int column); // both from 1
    int text_row() const { return m_state.row; }
    int text_column() const { return m_state.column; }
    void set_text_color(int color);
    void set_text_background(int color);
    void set_text_cursor(bool on);
    // Texts are UTF-8 (bytes that are not are read as Latin-1 one by one); each
    // character takes one cell, and a character the text font cannot draw shows
    // as one replacement box.
    // Draws the characters of `text` at the text position (clipped at column 80)
    // and leaves the position just after them. The next write_line record then
    // starts on a new row.
    void write_chars(std::string_view text);
    // One output record: starts on a new row at column 1 unless the previous
    // record ended with LineEnd::Stay (or the text position was just set or the
    // window cleared). Text beyond column 80 continues on the next row. Moving
    // below the last row scrolls the whole window (pixels and cells) up one row.
    void write_line(std::string_view text, LineEnd end = LineEnd::NewLine);
    // Reads one typed line with echo at the text position, as UTF-8, one cell
    // per character; BACKSPACE takes back a character, ENTER ends (the next
    // record then starts on a new row), keys without a character and control
    // characters are read and dropped. Esc raises Cancelled while a viewer
    // command runs (window/cancel.h) and is dropped otherwise.
    std::string read_line();
    // read_line with the file-open box on offer: TAB, and ENTER on an empty
    // line where `enter` says so, show the box with `filter_list`. A name
    // chosen there replaces the echo of what was typed and ends the line;
    // Cancel returns to the typing as it was.
    TypedName read_line_or_box(std::string_view filter_list, EnterAlone enter);

    // ---- graphics -------------------------------------------------------
    void set_color(int color);
    int color() const { return m_state.color; }
    // Pixel rectangle of the window, corners included.
    void set_plot_area(int x1, int y1, int x2, int y2);
    // (x1, y1) is the bottom-left corner of the plot area, (x2, y2) the top-right.
    void set_plot_coords(double x1, double y1, double x2, double y2);
    // Pixel coordinates count from the top-left corner of the plot area.
    void move_to_px(int x, int y);
    // Draws from the graphics position up to, not including, (x, y) with the
    // graphics colour, line style and write mode, clipped to the plot area.
    void line_to_px(int x, int y);
    // The pixels of column x from row y1 to row y2, both included (pixels from
    // the plot area's top-left corner), in the graphics colour and write mode,
    // clipped; no line style. Leaves the graphics position alone. A quick path
    // for the thousands of vertical sticks of a line-catalogue overlay.
    void vertical_run_px(int x, int y1, int y2);
    void move_to(double x, double y); // plot coordinates
    void line_to(double x, double y); // plot coordinates
    // Equivalent to move_to(x[0], y[0]) and line_to for every further point,
    // pixel for pixel, with every y first clamped into [y_low, y_high]; computed
    // in one linear pass so that millions of points stay fast.
    void polyline(std::span<const double> x, std::span<const std::int32_t> y, double y_low,
                  double y_high);
    void polyline(std::span<const double> x, std::span<const double> y);
    void rectangle(Fill fill, double x1, double y1, double x2, double y2); // plot coordinates
    // Fills from (x, y) (pixels, plot area origin) with the graphics colour up to
    // pixels of colour `boundary`.
    void flood_fill(int x, int y, int boundary);
    void set_line_style(std::uint16_t mask); // bit 15 is the first pixel
    void set_write_mode(WriteMode mode);
    // The pixel of plot coordinates (x, y), in window pixels; used by tests.
    // x1 maps to the left edge of the plot area and x2 to its right edge (y1 to
    // the bottom, y2 to the top), linearly in between, rounded to the nearest
    // pixel with halves going to the larger coordinate.
    int to_pixel_x(double x) const;
    int to_pixel_y(double y) const;

    // ---- fonts ------------------------------------------------------------
    void load_fonts();
    // "t'Arial'h18w9ei": typeface, pixel height and width, bold, italic.
    // Returns false when the string cannot be parsed; an unknown face is
    // replaced by a similar one.
    bool select_font(std::string_view spec);
    // The font of the text grid, from the configuration (name and attributes).
    void set_text_font(std::string_view name, std::uint32_t attributes);
    // Draws text in the current font with its top-left corner at the graphics
    // position, in the graphics colour (copy or exclusive-or as set).
    void draw_text(std::string_view text);

    // ---- keys and the file-open box ------------------------------------------
    // Waits for one key without echo and returns its character code: 1..255
    // for a character of Latin-1 except 'a' with a grave accent, whose 224
    // would begin a two-code key; that one and every character beyond Latin-1
    // give other_character, a code no command uses. A key without a
    // character arrives as two codes, 0 first.
    int get_char();
    static constexpr int other_character = 256;
    // Shows the file-open box with a filter list in the driver's text form
    // (" All Files (*.*), *.*; ..."); nullopt when it was cancelled.
    std::optional<std::string> open_file_box(std::string_view filter_list);
    // Shows what was drawn; called by get_char, read_line and the file box by
    // themselves, and by long work that wants its progress seen.
    void flush();

    // ---- window events ---------------------------------------------------------
    // Called inside get_char when the operator closes the window: true ends the
    // run through normal_exit(), false goes on waiting for keys. With no handler
    // a close ends the run at once. A close while the handler runs ends the run.
    // A close while the file-open box is up always ends the run.
    void set_close_handler(std::function<bool()> handler); // empty function: none
    struct Point {
        int x = 0, y = 0;
        bool operator==(const Point&) const = default;
    };
    // Canvas pixels from the top-left corner.
    Point last_click() const { return m_last_click; }
    // The pointer at the last wheel notch; nullopt: at the program's cursor.
    std::optional<Point> last_wheel() const { return m_last_wheel; }
    // UTF-8 path of the last drop.
    const std::string& dropped_path() const { return m_dropped_path; }
    // While on, a drop during read_line ends the line as ENTER would, with the
    // dropped path as the typed text; otherwise drops arrive as KEY_DROP.
    void set_drop_as_typed_line(bool on) { m_drop_as_typed_line = on; }
    void set_title(std::string_view title); // the window's title bar; play mode keeps it for tests
    const std::string& title() const { return m_title; }
    void copy_to_clipboard(std::string_view text); // play mode keeps it for tests
    const std::string& clipboard() const { return m_clipboard; }
    // Canvas, cells and the drawing state, so that a question can be drawn
    // over any screen and taken away again, and the screen underneath goes on
    // drawing exactly as before.
    struct Snapshot {
        Canvas canvas;
        TextGrid grid;
        DrawState state;
    };
    Snapshot save_screen() const;
    // A snapshot of another geometry (the height was toggled meanwhile) is
    // ignored: its cells and pixels would not fit the window any more.
    void restore_screen(const Snapshot& snapshot);

    // ---- ends -----------------------------------------------------------
    [[noreturn]] void normal_exit(); // closes the window at once
    [[noreturn]] void fatal_end();   // window stays until the operator closes it

    // ---- inspection (front-ends, tests) ------------------------------------------
    const Canvas& canvas() const { return m_canvas; }
    Canvas& canvas() { return m_canvas; }
    const TextGrid& text_grid() const { return m_grid; }

  private:
    void new_row();
    void scroll_up();
    void put_char_cell(int row, int column, char32_t c);
    void plot_pixel(int x, int y); // window pixels, clipped, with write mode
    void raw_line(int x0, int y0, int x1, int y1);
    // A line between window pixel positions given as reals; far or huge ends are
    // clipped in floating point first, non-finite ones draw nothing.
    void draw_segment(double x0, double y0, double x1, double y1);
    bool near_window(double x, double y) const;
    void update_scale();
    double map_x(double x) const; // plot coordinates to window pixels, unrounded
    double map_y(double y) const;
    void mark_dirty(int x1, int y1, int x2, int y2);
    // The two bottom pixel rows of the cell at the text position, empty when
    // the position lies outside the grid.
    Rect text_cursor_bar() const;
    std::uint8_t text_cursor_mask() const;
    void toggle_text_cursor(const Rect& bar, std::uint8_t mask);
    // Waits for the next code of the front-end, with the text cursor shown
    // while waiting when it is on.
    int next_key();
    // Takes one code from the front-end, turning a close of the window into the
    // close handler's decision and keeping the details of click and drop events.
    int next_code();
    // The echo of one typed character at the text position, and taking the
    // last one back (BACKSPACE), wrapping between rows as the echo does.
    void echo_character(char32_t c);
    void unecho_character();
    // Replaces the echo of `typed` with the dropped path and returns the path.
    // The echo of `typed` gives way to `name`, which is returned.
    std::string replace_echo(const std::string& typed, const std::string& name);
    struct BoxOffer {
        std::string_view filter_list;
        EnterAlone enter;
    };
    TypedName read_typed_line(const BoxOffer* offer);

    FrontEnd& m_front_end;
    Canvas m_canvas;
    TextGrid m_grid;
    std::unique_ptr<FontCache> m_fonts;

    DrawState m_state;
    int m_style_phase = 0;     // the pixel of the line style the next pixel takes
    double m_sx = 0, m_sy = 0; // pixels per plot unit, from the plot area and coordinates
    std::string m_text_font_name = "Courier New";
    std::uint32_t m_text_font_attributes = 0;
    Rect m_dirty{};

    std::function<bool()> m_close_handler;
    bool m_in_close_handler = false;
    bool m_after_zero = false; // the last code was the 0 of a two-code key
    Point m_last_click;
    std::optional<Point> m_last_wheel;
    std::string m_dropped_path;
    bool m_drop_as_typed_line = false;
    std::string m_title, m_clipboard;
};

// The window of this run, set up by the program's entry point.
Window& window();
void set_window(Window* w);

// Makes a window the one of this run for its own lifetime, and leaves window()
// unset however the run ends, so that nothing can reach a dead window.
class InstalledWindow {
  public:
    explicit InstalledWindow(Window& w) { set_window(&w); }
    ~InstalledWindow() { set_window(nullptr); }
    InstalledWindow(const InstalledWindow&) = delete;
    InstalledWindow& operator=(const InstalledWindow&) = delete;
};

} // namespace korax

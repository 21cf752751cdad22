// What a front-end gives the window: keys, the file-open box, and a place to show
// the canvas. The Qt window and the key-script player are the two front-ends.
#pragma once

#include "window/canvas.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// Keys travel from a front-end to the window as ints: an ASCII character as its
// code, any other character as text_key(its code point), and a key without a
// character as 0 followed by its keyboard code. Characters beyond ASCII are kept
// out of 0..255 so that none can be taken for the 0 or 224 that begin a
// two-code key, as 'a' with a grave accent (U+00E0, the unshifted 0 key of
// AZERTY keyboards) otherwise would be.
inline constexpr int text_key_base = 0x1000000;
constexpr int text_key(char32_t c) {
    return c < 0x80 ? static_cast<int>(c) : text_key_base + static_cast<int>(c);
}

struct FileFilter {
    std::string description; // "All Files (*.*)"
    std::string pattern;     // "*.*"
};

// Splits the driver's filter text (" All Files (*.*), *.*; ...") into its entries.
std::vector<FileFilter> parse_filter_list(std::string_view text);

// Thrown by FrontEnd::wait_key and FrontEnd::open_file_box when the operator
// closes the window; the window decides what that means.
struct CloseRequested {};

struct CanvasPoint {
    int x = 0, y = 0;
};

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // Blocks until a key arrives and returns it as text_key() above tells.
    // Keys without a character arrive as two calls: 0, then the key's code.
    // Window events (wheel, click, drop) arrive the same way, as 0 and their
    // KEY_ code (window.h). May throw CloseRequested when the operator closed the
    // window, and RunEnded when the script ran out.
    virtual int wait_key() = 0;
    // Where the click whose KEY_CLICK code wait_key has just returned was, in
    // canvas pixels; and the path (UTF-8) of the drop whose KEY_DROP it returned.
    virtual CanvasPoint click_position() const { return {}; }
    // Where the pointer was at the wheel notch whose code wait_key has just
    // returned, in canvas pixels; nullopt: where the program's cursor is drawn.
    virtual std::optional<CanvasPoint> wheel_position() const { return std::nullopt; }
    virtual std::string dropped_path() const { return {}; }
    // The title bar (text in the window's encoding or UTF-8) and the clipboard.
    virtual void set_title(std::string_view) {}
    virtual void copy_to_clipboard(std::string_view) {}
    // nullopt: the box was cancelled. Throws CloseRequested when the operator
    // closed the main window while the box was up.
    virtual std::optional<std::string> open_file_box(const std::vector<FileFilter>& filters) = 0;
    // The canvas changed inside `changed`; show the newest picture.
    virtual void show(const Canvas& canvas, const Rect& changed) = 0;
    // The canvas got a new size.
    virtual void resized(int width, int height) = 0;
    // While the program waits for a key with the text cursor on, `bar` is the
    // cursor drawn into the canvas by exclusive-or with `mask`; a front-end may
    // blink it by showing those pixels exclusive-ored with `mask` again. An
    // empty `bar` when the key has arrived: nothing to blink.
    virtual void text_cursor(const Rect& bar, std::uint8_t mask) {
        (void)bar;
        (void)mask;
    }
    // Normal exit: close at once.
    virtual void close() = 0;
    // Fatal end: keep showing the last picture until the operator closes it.
    virtual void hold() = 0;
};

} // namespace korax

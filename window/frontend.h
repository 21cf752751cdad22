// What a front-end gives the window: keys, the file-open box, and a place to show
// the canvas. The Qt window and the key-script player are the two front-ends.
#pragma once

#include "window/canvas.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

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
    // Blocks until a key arrives; returns its code 0..255. Keys without a
    // character arrive as two calls: 0 or 224, then the key's code.
    // Window events (wheel, click, drop) arrive the same way, as 0 and their
    // KEY_ code (window.h). May throw CloseRequested when the operator closed the
    // window, and RunEnded when the script ran out.
    virtual int wait_key() = 0;
    // Where the click whose KEY_CLICK code wait_key has just returned was, in
    // canvas pixels; and the path (UTF-8) of the drop whose KEY_DROP it returned.
    virtual CanvasPoint click_position() const { return {}; }
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
    // Normal exit: close at once.
    virtual void close() = 0;
    // Fatal end: keep showing the last picture until the operator closes it.
    virtual void hold() = 0;
};

} // namespace korax

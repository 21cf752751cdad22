// The pieces every dialog writes the same way, whichever subsystem it belongs
// to: the top of a dialog screen, a line in light red, the "Press ENTER to
// continue" that ends a screen, the single-key Y/N answer, and messages over
// the viewer's two status rows.
#pragma once

#include "window/window.h"

#include <optional>
#include <string>
#include <string_view>

namespace korax {

// A dialog screen from the top: the window cleared in black on light grey,
// the text cursor on, and the heading of `spaced_title` ("A P P E N D ...")
// between a blank record and an empty one.
void open_dialog_screen(Window& w, std::string_view spaced_title);

// A record in light red (12), the colour of errors and of names just written,
// then the text colour back to black.
void write_red_line(Window& w, std::string_view text);

// Where the prompt at the end of a dialog screen stands.
enum class PressEnter {
    Right, // "Press ENTER to continue  " from column 41, the text position after it
    Below, // "     Press ENTER to continue" as a record of its own
};
// A blank record, the prompt, then keys until ENTER.
void press_enter(Window& w, PressEnter where);

// A setting on a dialog screen: "PROMPT (now SHOWN): " and the typed line
// without the blanks around it; empty when ENTER alone keeps the value.
std::string read_setting(Window& w, std::string_view prompt, std::string_view shown);
// Asks until `parse` takes the answer (a std::optional<T>) or ENTER alone
// keeps `now`.
template <class T, class Parse>
T ask_setting(Window& w, std::string_view prompt, std::string_view shown, T now, Parse parse) {
    for (;;) {
        const std::string typed = read_setting(w, prompt, shown);
        if (typed.empty()) return now;
        if (std::optional<T> value = parse(typed)) return *value;
    }
}

// Reads keys until one is Y, y, N or n; every other key is dropped. true for
// Y or y.
[[nodiscard]] bool wait_for_yes_or_no();

// Rows 1 and 2 of the window in colour `color` on light grey, each padded to
// the 80 columns (longer text is clipped there), as the viewer's messages take
// its status rows; without `row2`, row 2 is left as it is. The text colours
// stay as set.
void write_message_rows(Window& w, std::string_view row1, std::optional<std::string_view> row2,
                        int color);

} // namespace korax

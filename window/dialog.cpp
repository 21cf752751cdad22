// Shared dialog pieces; see dialog.h.
#include "window/dialog.h"

#include "base/format.h"
#include "window/inkey.h"

#include <algorithm>
#include <string>

namespace korax {

void open_dialog_screen(Window& w, std::string_view spaced_title) {
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.set_text_position(1, 1);
    w.set_text_cursor(true);
    w.write_line(" ");
    w.write_line(heading(spaced_title));
    w.write_line("");
}

void write_red_line(Window& w, std::string_view text) {
    w.set_text_color(12);
    w.write_line(text);
    w.set_text_color(0);
}

void press_enter(Window& w, PressEnter where) {
    w.write_line(" ");
    if (where == PressEnter::Right)
        w.write_line(blanks(40) + "Press ENTER to continue  ", LineEnd::Stay);
    else
        w.write_line("     Press ENTER to continue");
    wait_for_enter();
}

std::string read_setting(Window& w, std::string_view prompt, std::string_view shown) {
    std::string line(prompt);
    line += " (now ";
    line += shown;
    line += "): ";
    w.write_line(line, LineEnd::Stay);
    std::string typed(trim_right(w.read_line()));
    typed.erase(0, std::min(typed.find_first_not_of(' '), typed.size()));
    return typed;
}

bool wait_for_yes_or_no() {
    for (;;) {
        const std::int16_t k = INKEY();
        if (k == 'Y' || k == 'y') return true;
        if (k == 'N' || k == 'n') return false;
    }
}

void write_message_rows(Window& w, std::string_view row1, std::optional<std::string_view> row2,
                        int color) {
    w.set_text_color(color);
    w.set_text_background(7);
    w.set_text_position(1, 1);
    w.write_chars(pad(row1, 80));
    if (!row2) return;
    w.set_text_position(2, 1);
    w.write_chars(pad(*row2, 80));
}

} // namespace korax

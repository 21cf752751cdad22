// The viewer's extension keys. They take only keys the classic set ignores,
// so every specified key and screen stays as it was.
#include "viewer/extension_keys.h"

#include "driver/files.h"
#include "driver/store.h"
#include "viewer/display.h"
#include "viewer/undo.h"
#include "window/format.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>

namespace korax {

namespace {

// A status-row message in the colours of the measurement rows; the rows are
// rewritten in full at the next cursor move.
void message_row(ViewerState& v, std::string_view text) {
    Window& w = window();
    w.set_text_color(1);
    w.set_text_background(7);
    w.set_text_position(1, 1);
    w.write_chars(pad(text, 80));
    v.STALE = true;
}

// After an undo the spectrum may be shorter than the display (an append gone).
void keep_display_inside(ViewerState& v) {
    const SpectrumStore& s = store();
    const double f1 = s.FREQ[1], fn = s.FREQ[static_cast<std::size_t>(s.NPTS)];
    v.FLOW = std::max(v.FLOW, f1);
    v.FHIGH = std::min(v.FHIGH, fn);
    if (!(v.FLOW < v.FHIGH)) {
        v.FLOW = f1;
        v.FHIGH = fn;
    }
    v.FCURS = std::clamp(v.FCURS, v.FLOW, v.FHIGH);
}

void undo_or_redo(ViewerState& v, bool undoing) {
    SpectrumHistory& history = spectrum_history();
    const std::string_view what = undoing ? history.undo(v.YMEAN) : history.redo(v.YMEAN);
    if (!what.empty()) {
        keep_display_inside(v);
        plot_redraw(v);
        show_spectrum_state();
    }
    message_row(v, undo_row(undoing, what, undoing ? history.undo_count() : history.redo_count()));
}

void show_extension_page(ViewerState& v) {
    Window& w = window();
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.set_text_position(1, 1);
    extension_keys_page();
    wait_for_enter();
    screen_redraw(v);
}

} // namespace

std::string undo_row(bool undoing, std::string_view what, std::size_t remaining) {
    if (what.empty()) return undoing ? " Nothing to undo" : " Nothing to redo";
    std::string row = undoing ? " Undone: " : " Redone: ";
    row += what;
    row += undoing ? "   (U undoes " : "   (Y redoes ";
    row += std::to_string(remaining);
    row += undoing ? " more, Y redoes it)" : " more, U undoes it)";
    return row;
}

std::string spectrum_title(std::string_view fname, bool modified) {
    const std::string_view name = file_part(trim_right(fname));
    if (name.empty()) return "KORAX";
    std::string title = "KORAX - " + std::string(name);
    if (modified) title += " (modified)";
    return title;
}

void show_spectrum_state() {}

void note_append_restore(ViewerState& v) {
    message_row(v, " & put back the spectrum of the viewer's entry; U brings the processing back");
}

void extension_keys_page() {
    Window& w = window();
    w.write_line("");
    w.write_line(heading("E X T E N S I O N   K E Y S"));
    w.write_line("");
    w.write_line("         U,Y - undo / redo the last change of the spectrum (8 steps)");
    w.write_line("         Esc - leave a prompt or level setting, the spectrum as before");
    w.write_line("    Ctrl+C/P - copy the last measurement / save a picture of the window");
    w.write_line("      Ctrl+Q - close the window (asks first when changes are unsaved)");
    w.write_line(" Wheel,click - zoom in/out about the cursor / move the cursor there");
    w.write_line("");
    w.write_line("         C,V - open a line catalogue / overlay on-off, v: linear-log sticks");
    w.write_line("         ],[ - cursor to the next/previous predicted line");
    w.write_line("         },{ - the same for lines above the intensity threshold");
    w.write_line("         T,D - assign the measured frequency / catalogue settings");
    w.write_line("");
    w.write_line("           ? - this page, also from the help screen");
    w.write_line(blanks(7) + "ENTER - exits this page", LineEnd::Stay);
}

void wait_after_help() {
    for (;;) {
        const std::int16_t key = INKEY();
        if (key == KEY_ENTER) return;
        if (key != '?') continue;
        Window& w = window();
        w.clear_window();
        w.set_text_position(1, 1);
        extension_keys_page();
    }
}

bool extension_key(ViewerState& v, std::int16_t code) {
    switch (code) {
    case 'U':
    case 'u':
        undo_or_redo(v, true);
        return true;
    case 'Y':
    case 'y':
        undo_or_redo(v, false);
        return true;
    case '?':
        show_extension_page(v);
        return true;
    default:
        return false;
    }
}

} // namespace korax

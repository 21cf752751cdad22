// The viewer's extension keys. They take only keys the classic set ignores,
// so every classic key and screen stays as it was.
#include "viewer/extension_keys.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"
#include "spectrum/store.h"
#include "viewer/assignment_keys.h"
#include "viewer/display.h"
#include "viewer/key_table.h"
#include "viewer/lookfm.h"
#include "viewer/measure.h"
#include "viewer/undo.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/png.h"
#include "window/window.h"

#include <algorithm>

namespace korax {

namespace {

// A status-row message in the colours of the measurement rows; the rows are
// rewritten in full at the next cursor move.
void message_row(ViewerState& v, std::string_view text) {
    write_message_rows(window(), text, std::nullopt, 1);
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

} // namespace

void key_undo(ViewerState& v) {
    undo_or_redo(v, true);
}

void key_redo(ViewerState& v) {
    undo_or_redo(v, false);
}

void key_extension_page(ViewerState&) {
    Window& w = window();
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.set_text_position(1, 1);
    extension_keys_page();
    wait_for_enter();
}

void key_click(ViewerState& v) {
    const Window::Point p = window().last_click();
    const auto f = frequency_at_pixel(p.x, p.y, v.FLOW, v.FHIGH);
    if (!f) return;
    draw_cursor(v);
    v.FCURS = std::clamp(*f, v.FLOW + v.CSTEP, v.FHIGH - v.CSTEP);
    draw_cursor(v);
    v.ICURS = std::clamp(index_of_frequency(v.FCURS), std::int32_t{1}, store().NPTS);
    update_cursor_status(v);
}

void key_copy_measurement(ViewerState& v) {
    const LastMeasurement& last = last_measurement();
    if (!last.valid) {
        message_row(v, " Nothing measured yet: O measures the line under the cursor");
        return;
    }
    std::string text = measurement_text(last);
    // The assignment made from this measurement goes along, as it stands in
    // the assignment file.
    const LastAssignment& assigned = last_assignment();
    if (!assigned.record.empty() && assigned.freq == last.FPEAK) text += "\n" + assigned.record;
    window().copy_to_clipboard(text);
    std::string shown = text;
    std::replace(shown.begin(), shown.end(), '\t', ' ');
    shown = shown.substr(0, shown.find('\n'));
    message_row(v, " Copied: " + shown);
}

void key_save_picture(ViewerState& v) {
    Window& w = window();
    // The picture as it is, before the row that reports it.
    const std::vector<unsigned char> png = encode_png(w.canvas());
    const PictureOutcome outcome = write_picture(store().FNAME, png);
    // Written, but the folder could not be synced or a temporary stayed: the
    // second row says so.
    std::optional<std::string> note;
    if (outcome.written && !outcome.error.empty()) note = " " + error_lines(outcome.error).front();
    write_message_rows(w,
                       outcome.written ? " Picture written to " + outcome.path
                                       : " Picture NOT written: " + outcome.error,
                       note ? std::optional<std::string_view>(*note) : std::nullopt, 12);
    v.STALE = true;
}

std::optional<double> frequency_at_pixel(int x, int y, double flow, double fhigh) {
    const auto& g = store().SCREEN;
    const int x1 = 2, x2 = g.MAXX - 2;
    const int y1 = 2 * g.ROWPIX - 2, y2 = g.MAXY - 2 * g.ROWPIX + 2;
    if (x < x1 || x > x2 || y < y1 || y > y2 || x2 <= x1) return std::nullopt;
    return flow + (fhigh - flow) * (x - x1) / (x2 - x1);
}

std::string measurement_text(const LastMeasurement& m) {
    // At least the 4 decimals of the rows, and as many as the error's two
    // significant digits need; the FWHH as many as the frequency.
    const int decimals = value_decimals(m.FPEAK, m.FPERR, 4);
    const auto number = [](double value, int d) {
        const std::string field = fmt_widened(value, 20, 4, d);
        return field.substr(std::min(field.find_first_not_of(' '), field.size()));
    };
    std::string text = number(m.FPEAK, decimals) + "\t" +
                       number(m.FPERR, std::max(4, error_decimals(m.FPERR))) + "\t";
    text += m.FWHH ? number(*m.FWHH, decimals) : "-";
    return text;
}

PictureOutcome write_picture(std::string_view fname, std::span<const unsigned char> png) {
    PictureOutcome outcome;
    if (png.empty()) {
        outcome.error = "not enough memory";
        return outcome;
    }
    const std::string trimmed(trim_right(fname));
    const std::string stem = directory_part(trimmed) + std::string(file_part(trimmed));
    // Numbered, so that no picture ever replaces a file.
    for (int n = 1; n <= 999; ++n) {
        SafeFile file;
        outcome.path = stem + "-" + std::to_string(n) + ".png";
        const SafeFile::Status status = file.open(outcome.path, OpenMode::New);
        if (status == SafeFile::Status::Exists) continue;
        if (status == SafeFile::Status::Error) {
            outcome.error = outcome.path + ": " + file.error_text();
            return outcome;
        }
        file.write(png.data(), png.size());
        if (!file.commit()) {
            outcome.error = outcome.path + ": " + file.error_text();
            return outcome;
        }
        outcome.written = true;
        outcome.error = file.error_text();
        return outcome;
    }
    outcome.error = "999 pictures of " + stem + " exist already";
    return outcome;
}

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

void show_spectrum_state() {
    Window& w = window();
    const std::string title = spectrum_title(store().FNAME, spectrum_history().modified());
    if (title != w.title()) w.set_title(title);
}

void note_append_restore(ViewerState& v) {
    message_row(v, " & put back the spectrum of the viewer's entry; U brings the processing back");
}

void extension_keys_page() {
    write_extension_page(window(), viewer_keys());
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

} // namespace korax

// Keys beyond the classic set: undo and redo, the page that lists them, the
// copy of the last measurement, the picture of the window, and the mouse. The
// key table (viewer/key_table.h) binds them.
#pragma once

#include "viewer/viewer_state.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korax {

inline constexpr std::int16_t KEY_CTRL_C = 3;
inline constexpr std::int16_t KEY_CTRL_P = 16;

// The commands of these keys, rows of the key table: U and Y (each says on
// row 1 what it undid or redid), the ? page (until ENTER), Ctrl+C, Ctrl+P and
// a click in the plot, which puts the cursor on that pixel column, held inside
// the display as the cursor keys hold it (clicks elsewhere are ignored).
void key_undo(ViewerState& v);
void key_redo(ViewerState& v);
void key_extension_page(ViewerState& v);
void key_copy_measurement(ViewerState& v);
void key_save_picture(ViewerState& v);
void key_click(ViewerState& v);

// The page of extension keys, written at the text position like HELP, from
// the key table.
void extension_keys_page();
// After HELP: ENTER leaves, "?" shows the page of extension keys first.
void wait_after_help();

// After an & that only put back the spectrum of the viewer's entry: says so,
// and that U brings the processing back.
void note_append_restore(ViewerState& v);
// The window's title: the spectrum's name, and "(modified)" while it holds
// changes that were not saved.
void show_spectrum_state();
[[nodiscard]] std::string spectrum_title(std::string_view fname, bool modified);

// The frequency under canvas pixel (x, y) of a display from flow to fhigh;
// nullopt outside the plot area.
[[nodiscard]] std::optional<double> frequency_at_pixel(int x, int y, double flow, double fhigh);

struct LastMeasurement;
// What Ctrl+C copies: frequency, error and FWHH with 4 decimals, separated by
// tabs so that they paste into the columns of a table ("-" for a missing FWHH).
[[nodiscard]] std::string measurement_text(const LastMeasurement& m);

// Writes the PNG beside the spectrum as NAME-1.png, NAME-2.png, ... (the first
// number not taken), through SafeFile.
struct PictureOutcome {
    bool written = false;
    std::string path;  // the file written, or tried last
    std::string error; // why nothing was written; after success, what went wrong after
};
[[nodiscard]] PictureOutcome write_picture(std::string_view fname,
                                           std::span<const unsigned char> png);

// The row after U or Y: what was undone or redone (empty `what`: nothing was),
// and how many steps remain that way.
[[nodiscard]] std::string undo_row(bool undoing, std::string_view what, std::size_t remaining);

} // namespace korax

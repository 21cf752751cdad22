// The viewer's keys, one row each: the key code, its command, the amount the
// command takes, what is redrawn after it, the name of the undo step when the
// key changes the spectrum, and how the man page and the ? page name it. The
// key loop dispatches through it, the command guard asks it which keys change
// the spectrum, the ? page is written from it, and tests hold the man page and
// the classic key set to it. A new key is one row in key_table.cpp plus its
// command.
#pragma once

#include "viewer/viewer_state.h"
#include "window/window.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// What is redrawn after a command that was not refused.
enum class Redraw {
    None,        // nothing, or what the command redrew itself
    Stale,       // nothing; the status rows hold a message (STALE)
    Plot,        // plot area, trace, cursor, scale and status rows
    Screen,      // key line and file name, then the plot
    Full,        // the window cleared, then the screen
    FullNewArea, // the same with the plot area taken anew from the geometry
};

// Which keys a row belongs to. Everything but Classic is an extension: it may
// take only keys the classic set leaves unbound, and the ? page lists it, a
// blank line between the sets.
enum class KeySet { Classic, Extension, Catalogue, ThisPage };

enum class KeyOutcome {
    Done,
    Refused, // the command said why it could not run; nothing is redrawn
    Leave,   // the operator confirmed leaving the viewer
};

using KeyCommand = KeyOutcome (*)(ViewerState& v, double amount);

struct ViewerKey {
    std::int16_t code; // as INKEY gives it
    // nullptr: listed on the page, but handled elsewhere (Esc at a prompt, Ctrl+Q
    // by the window); the viewer's loop ignores it.
    KeyCommand command;
    double amount; // what the command takes: a fraction, a factor, a step count
    Redraw redraw;
    std::string_view change; // the undo step's name; empty for keys that leave the spectrum alone
    KeySet set;
    std::string_view name;      // as the man page lists it
    std::string_view page_line; // its line on the ? page; one row of a group carries it
};

std::span<const ViewerKey> viewer_keys();
// The row of a key code; nullptr for a key the viewer ignores.
const ViewerKey* find_viewer_key(std::int16_t code);
// Runs the row's command and the redraw after it; false when the operator
// confirmed leaving the viewer.
[[nodiscard]] bool run_viewer_key(ViewerState& v, const ViewerKey& key);

// The page of the extension rows of `keys`, at the text position: heading, the
// page lines of the rows in order, and the line that leaves it.
void write_extension_page(Window& w, std::span<const ViewerKey> keys);

// What is wrong with a key table, one line each: a code bound twice, an
// extension row on a code of the classic set.
std::vector<std::string> key_table_faults(std::span<const ViewerKey> keys);
// The names of the rows that no ".B" line of the man page `man_page` lists
// (tokens separated by blanks, with quotes and parentheses taken off and "\-"
// read as "-").
std::vector<std::string> keys_missing_from_man_page(std::span<const ViewerKey> keys,
                                                    std::string_view man_page);

} // namespace korax

// One key of the viewer with its safety net: Esc leaves a command with the
// spectrum as it was, a command that fails (out of memory or otherwise) is
// reported on a light-red row and undone, and every change of the spectrum
// goes into the undo history.
#pragma once

#include "viewer/viewer_state.h"

#include <cstdint>
#include <string_view>

namespace korax {

// Runs the key as lookfm_key does, inside the safety net; false when the
// operator confirmed leaving the viewer.
[[nodiscard]] bool viewer_key(ViewerState& v, std::int16_t code);

// Whether the command running now (at a prompt or wait of its own) has
// already changed the spectrum: a baseline subtraction waiting for its ENTER.
[[nodiscard]] bool running_command_changed_spectrum();

// What a key changes in the spectrum, as the undo row names it (the key
// table's change column); empty for keys that leave the spectrum alone.
[[nodiscard]] std::string_view change_of_key(std::int16_t code);

// The row that reports a failed command, 80 characters.
[[nodiscard]] std::string failure_row(std::int16_t code, std::string_view what);

} // namespace korax

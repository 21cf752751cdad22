// The main program: start-up, file choice, loading, viewer and outer menu.
#pragma once

#include "viewer/session_start.h"

namespace korax {

// Runs until the outer menu's EXIT (Window::normal_exit) or a fatal end; both
// unwind with RunEnded. `start` goes to the viewer at every entry.
[[noreturn]] void MAIN_KORAX(const SessionStart& start);

} // namespace korax

// The main program: start-up, file choice, loading, viewer and outer menu.
#pragma once

namespace korax {

// Runs until the outer menu's EXIT (Window::normal_exit) or a fatal end; both
// unwind with RunEnded.
[[noreturn]] void MAIN_KORAX();

} // namespace korax

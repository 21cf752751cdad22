// The interactive program: the Qt window as front-end of the run. Kept free of Qt
// types so that the program's entry point compiles without Qt headers.
#pragma once

#include <functional>

namespace korax {

// Starts Qt, opens the window, installs it as window() and runs `program` until
// it ends. Returns the run's exit status: 0 for the normal exit or when the
// operator closed the window, 1 after a fatal end.
int run_interactive(int argc, char** argv, const std::function<void()>& program);

} // namespace korax

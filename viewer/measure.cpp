// Placeholder until this command is built.
#include "viewer/commands.h"

namespace korax {
void key_measure(ViewerState&) {}
void key_cursor_as_measurement(ViewerState&) {}
void key_average(ViewerState&) {}
void key_fitting_width(ViewerState&) {}
} // namespace korax

// Placeholder until this command is built.
#include "viewer/commands.h"

namespace korax {
void key_smooth(ViewerState&) {}
void key_baseline(ViewerState&) {}
} // namespace korax

// Placeholder until this command is built.
#include "viewer/commands.h"

namespace korax {
void key_append(ViewerState&) {}
} // namespace korax

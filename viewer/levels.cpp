// Placeholder until this command is built.
#include "viewer/commands.h"

namespace korax {
void peakfinder_levels(ViewerState&) {}
} // namespace korax

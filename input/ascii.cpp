// Placeholder until this command is built.
#include "input/ascii.h"

namespace korax {
bool read_ascii_spectrum() { return false; }
void linearise_axis() {}
} // namespace korax

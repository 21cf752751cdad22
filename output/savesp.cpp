// Placeholder until this command is built.
#include "output/savesp.h"

namespace korax {
void SAVESP() {}
} // namespace korax

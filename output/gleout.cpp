// Placeholder until this command is built.
#include "output/gleout.h"

namespace korax {
void GLEOUT(double&, double&, double&, double&) {}
} // namespace korax

// Placeholder until this command is built.
#include "analysis/autopk.h"

namespace korax {
void AUTOPK(std::int32_t&, std::int32_t&, std::int16_t&, std::int16_t&, std::int16_t&, double&) {}
} // namespace korax

// Placeholder until this command is built.
#include "analysis/smooth.h"

namespace korax {
void SMOOTH(std::int32_t&, std::int32_t&, std::int32_t&, std::int32_t&) {}
void smoothing_coefficients(int, std::span<float>) {}
void smooth_pass(std::span<const std::int32_t>, std::span<std::int32_t>, std::int32_t, std::span<const float>) {}
} // namespace korax

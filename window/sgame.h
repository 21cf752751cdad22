// The spectrum banner along the bottom of the window: random lines of the
// second-derivative shape, the area below them filled in blue.
#pragma once

#include <cstdint>
#include <optional>

namespace korax {

// Seed of the banner's random lines instead of the clock (`korax --play --seed N`).
void set_banner_seed(std::optional<std::uint64_t> seed);
// Draws ten random second-derivative lines with the area below filled in blue,
// over the whole width of the window.
void SGAME();

} // namespace korax

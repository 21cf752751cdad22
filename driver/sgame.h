// The spectrum banner along the bottom of the window, and the title screen.
#pragma once

#include <cstdint>
#include <optional>

namespace korax {

// Seed of the banner's random lines instead of the clock (`korax --play --seed N`).
void set_banner_seed(std::optional<std::uint64_t> seed);
// Draws ten random second-derivative lines with the area below filled in blue.
void SGAME();
// The drawn title screen of start-up; ends with the banner and text position row 10.
void draw_title_screen();

} // namespace korax

// The PEAKFINDER level setting: one press of W, w, Z or z moves a 16-bit level by
// ten or one pixel rows of the plot (delta intensity units per row).
#pragma once

#include "analysis/intensity_levels.h"

#include <cstdint>

namespace korax {

// The baseline after one key: not below the display's lower limit when lowered,
// not above its upper limit when raised. Other keys leave it.
std::int16_t move_baseline(std::int16_t b, int key, double delta, double ylow, double yhigh);
// The cutoff after one key: always above the baseline b, not above yhigh.
std::int16_t move_cutoff(std::int16_t u, int key, double delta, std::int16_t b, double yhigh);

} // namespace korax

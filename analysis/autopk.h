// PEAKFINDER: every line above a cutoff, fitted and written to a results file.
#pragma once

#include <cstdint>

namespace korax {

void AUTOPK(std::int32_t& IFIRST, std::int32_t& ILAST, std::int16_t& cutoff,
            std::int16_t& baseline, std::int16_t& NFIT, double& height);

} // namespace korax

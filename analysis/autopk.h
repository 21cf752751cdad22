// PEAKFINDER's dialog: the search range, the results file's name and the
// count of lines found; the search itself is analysis/peak_search.h's.
#pragma once

#include "analysis/peak_search.h"

#include <cstdint>
#include <vector>

namespace korax {

// Asks for the range (the displayed points IFIRST..ILAST or the whole
// spectrum) and the results file, then searches with the levels the viewer set.
void AUTOPK(std::int32_t& IFIRST, std::int32_t& ILAST, std::int16_t& cutoff, std::int16_t& baseline,
            std::int16_t& NFIT, double& height);

// The lines the last PEAKFINDER of the run found, fitted or not, for the
// viewer's marks; the driver empties it when another spectrum is loaded.
std::vector<FoundLine>& peakfinder_lines();

} // namespace korax

// The frequency-axis label lines of a strip: pairs of "xplaces" and "xnames"
// lines, one pair per group of seven large ticks.
#pragma once

#include <cstdint>
#include <string>

namespace korax {

// Appends one group's lines (CR LF ended) to `out`: ticks from group_start in
// steps of `interval` up to group_end (or the strip end), labelled at
// first_label + j * step * interval.
void XLAB(double first_label, double strip_end, double group_start, double group_end,
          double interval, std::int32_t step, std::string& out);

} // namespace korax

// The median of many doubles in linear time, for the robust noise estimate of
// the batch commands: the value a sort would put in the middle (for an even
// count, the mean of the two middle ones), found from a histogram of the
// values' leading bits and a selection within the one bin that holds it.
#pragma once

#include <span>

namespace korax {

// The median of `values` (not empty, no NaN).
double median(std::span<const double> values);

} // namespace korax

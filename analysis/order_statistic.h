// The k-th smallest of a few hundred values, as the level and noise estimates
// take many thousands of times per spectrum: cheaper than std::nth_element on
// a copy, with the same value.
#pragma once

#include <cstddef>
#include <span>

namespace korax {

// The k-th smallest (0-based) of v, k < v.size(): the value std::nth_element
// puts at position k. v is left as it is. With a NaN among the values the
// answer is std::nth_element's on a copy of v in its order.
double kth_smallest(std::span<const double> v, std::size_t k);

} // namespace korax

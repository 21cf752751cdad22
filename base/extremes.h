// The smallest and largest of a run of counts: the scans of a spectrum's tops
// and every pass of the display read them, so the loop is built for wider
// vector units where the processor has them.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

namespace korax {

// The smallest and largest of v (not empty).
std::pair<std::int32_t, std::int32_t> extremes_of(std::span<const std::int32_t> v);

} // namespace korax

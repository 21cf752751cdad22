#include "base/extremes.h"

#include "base/cloned.h"

#include <cassert>

namespace korax {

KORAX_CLONED std::pair<std::int32_t, std::int32_t> extremes_of(std::span<const std::int32_t> v) {
    assert(!v.empty());
    const std::int32_t* y = v.data();
    std::int32_t lo = y[0], hi = y[0];
    for (std::size_t i = 1; i < v.size(); ++i) {
        lo = y[i] < lo ? y[i] : lo;
        hi = y[i] > hi ? y[i] : hi;
    }
    return {lo, hi};
}

} // namespace korax

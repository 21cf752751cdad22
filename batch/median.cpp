// The median from a histogram of ordering keys. The first pass counts the
// values by the leading 16 bits of a key that orders as the doubles do; the
// bin that holds the middle rank (two neighbouring bins for an even count)
// is gathered and selected in, so that only its few values are compared.
// Every value keeps its bits, so the result is the sort's to the bit.
#include "batch/median.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <vector>

namespace korax {

namespace {

constexpr int BIN_BITS = 16;
constexpr int KEY_SHIFT = 64 - BIN_BITS;

// Orders as the values do: negative values reversed below the positive ones.
// -0 comes just before +0, which compare equal, so either is a value a sort
// could put at that rank.
std::uint64_t order_key(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    return bits >> 63 ? ~bits : bits | (std::uint64_t(1) << 63);
}

std::uint32_t bin_of(double v) {
    return static_cast<std::uint32_t>(order_key(v) >> KEY_SHIFT);
}

// Kept per thread between calls: the batch commands take the median of every
// spectrum of a campaign, several at a time.
struct MedianBuffers {
    std::vector<std::uint32_t> counts = std::vector<std::uint32_t>(std::size_t(1) << BIN_BITS);
    std::vector<double> gathered;
};

MedianBuffers& buffers() {
    thread_local MedianBuffers b;
    return b;
}

} // namespace

double median(std::span<const double> values) {
    assert(!values.empty());
    const std::size_t n = values.size();
    const std::size_t upper = n / 2;                     // the middle rank, 0-based
    const std::size_t lower = n % 2 ? upper : upper - 1; // its partner for an even count
    auto& b = buffers();
    std::fill(b.counts.begin(), b.counts.end(), 0);
    for (const double v : values)
        ++b.counts[bin_of(v)];
    // The bins of both ranks, and how many values lie below the first.
    std::size_t below = 0, bin = 0;
    while (below + b.counts[bin] <= lower)
        below += b.counts[bin++];
    const std::uint32_t first_bin = std::uint32_t(bin);
    std::size_t through = below + b.counts[bin];
    while (through <= upper)
        through += b.counts[++bin];
    const std::uint32_t last_bin = std::uint32_t(bin);

    // Without a branch: which values fall in the bins is as good as random.
    auto& g = b.gathered;
    if (g.size() < n) g.resize(n);
    std::size_t count = 0;
    for (const double v : values) {
        g[count] = v;
        count += std::uint32_t(bin_of(v) - first_bin) <= last_bin - first_bin;
    }
    const auto at = [&](std::size_t rank) {
        const auto it = g.begin() + std::ptrdiff_t(rank - below);
        std::nth_element(g.begin(), it, g.begin() + std::ptrdiff_t(count));
        return *it;
    };
    const double high = at(upper);
    if (lower == upper) return high;
    // After the selection of the upper rank everything before it is no
    // larger: the lower rank is the largest of those.
    const double low = *std::max_element(g.begin(), g.begin() + std::ptrdiff_t(upper - below));
    return (high + low) / 2;
}

} // namespace korax

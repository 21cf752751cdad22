#include "analysis/order_statistic.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <limits>
#include <vector>

namespace korax {

namespace {

// Below this many values the partitions of std::nth_element cost less than
// the passes of the counting below.
constexpr std::size_t FEW = 40;

double partitioned(std::span<const double> from, std::size_t k, std::vector<double>& to) {
    to.assign(from.begin(), from.end());
    const auto at = to.begin() + std::ptrdiff_t(k);
    std::nth_element(to.begin(), at, to.end());
    return *at;
}

} // namespace

__attribute__((target_clones("avx2", "default"))) double kth_smallest(std::span<const double> v,
                                                                      std::size_t k) {
    assert(k < v.size());
    // Kept per thread: the callers ask again and again with sizes alike.
    thread_local std::vector<double> kept[2];
    thread_local std::vector<std::uint32_t> counts, buckets;
    constexpr double INF = std::numeric_limits<double>::infinity();
    std::span<const double> from = v;
    for (int round = 0;; ++round) {
        const std::size_t n = from.size();
        std::vector<double>& to = kept[round % 2];
        if (n < FEW) return partitioned(from, k, to);
        // NaNs have no place in the order: std::nth_element decides, on the
        // values as given (only the first round can meet one). Four running
        // extremes, so that no comparison waits for the one before; a NaN
        // compares false and leaves them as they are, unless it is the first.
        if (from[0] != from[0]) return partitioned(from, k, to);
        double low_of[4] = {from[0], from[0], from[0], from[0]};
        double high_of[4] = {from[0], from[0], from[0], from[0]};
        for (std::size_t i = 0; i + 4 <= n; i += 4)
            for (std::size_t j = 0; j < 4; ++j) {
                const double x = from[i + j];
                low_of[j] = x < low_of[j] ? x : low_of[j];
                high_of[j] = x > high_of[j] ? x : high_of[j];
            }
        for (std::size_t i = n / 4 * 4; i < n; ++i) {
            low_of[0] = from[i] < low_of[0] ? from[i] : low_of[0];
            high_of[0] = from[i] > high_of[0] ? from[i] : high_of[0];
        }
        for (std::size_t j = 1; j < 4; ++j) {
            low_of[0] = low_of[j] < low_of[0] ? low_of[j] : low_of[0];
            high_of[0] = high_of[j] > high_of[0] ? high_of[j] : high_of[0];
        }
        const double low = low_of[0], high = high_of[0];
        if (!(high > low)) return low; // all equal
        // The values fall into n buckets of equal width between the extremes.
        // The bucket is a non-decreasing function of the value (each step of
        // it rounds monotonically), so the k-th value is the one of its rank
        // among the values of the bucket where the count passes k. The lowest
        // value has bucket 0 and the highest n - 1, so each round leaves fewer.
        const double scale = double(n) / (high - low);
        // A span beyond the doubles, or one so narrow that its scale is.
        if (!(high - low < INF && scale < INF)) return partitioned(from, k, to);
        const auto last = std::uint32_t(n - 1);
        counts.assign(n, 0);
        buckets.resize(n);
        bool nan = false;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = (from[i] - low) * scale;
            nan |= !(t >= 0);
            const auto b = t < double(last) ? std::uint32_t(t) : last;
            buckets[i] = b;
            ++counts[b];
        }
        if (nan) return partitioned(from, k, to);
        std::size_t below = 0;
        std::uint32_t b = 0;
        while (below + counts[b] <= k)
            below += counts[b++];
        to.resize(counts[b]);
        for (std::size_t i = 0, m = 0; m < to.size(); ++i) {
            to[m] = from[i];
            m += buckets[i] == b;
        }
        k -= below;
        from = to;
    }
}

} // namespace korax

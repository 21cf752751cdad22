#include "analysis/order_statistic.h"

#include "base/cloned.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
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

KORAX_CLONED double kth_smallest(std::span<const double> v, std::size_t k) {
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
        // And whether every value is a whole number (counts, and their
        // differences): (x + M) - M rounds x to one, for |x| below 2^51, and
        // is always one, so x is whole where it gives x back. Four lanes of
        // a vector, which the compiler keeps in registers of the width the
        // processor has.
        using Lanes = double __attribute__((vector_size(32)));
        using Masks = std::int64_t __attribute__((vector_size(32)));
        constexpr double M = 6755399441055744.0; // 1.5 * 2^52
        Lanes low_of = from[0] + Lanes{}, high_of = low_of;
        Masks fraction{};
        for (std::size_t i = 0; i + 4 <= n; i += 4) {
            Lanes x;
            std::memcpy(&x, from.data() + i, sizeof x);
            low_of = x < low_of ? x : low_of;
            high_of = x > high_of ? x : high_of;
            fraction |= ((x + M) - M) != x;
        }
        double low = low_of[0], high = high_of[0];
        bool whole = fraction[0] == 0 && fraction[1] == 0 && fraction[2] == 0 && fraction[3] == 0;
        for (std::size_t j = 1; j < 4; ++j) {
            low = low_of[j] < low ? low_of[j] : low;
            high = high_of[j] > high ? high_of[j] : high;
        }
        for (std::size_t i = n / 4 * 4; i < n; ++i) {
            const double x = from[i];
            low = x < low ? x : low;
            high = x > high ? x : high;
            whole &= (x + M) - M == x;
        }
        if (!(high > low)) return low; // all equal
        // Whole numbers, as counts and their differences are: one count for
        // each number of a window of 2n + 1 around the k-th value's likely
        // place (all of them when the values span no more), one for all below
        // and one for all above, and the k-th value is the number where the
        // counts pass k, in one pass. The window comes from a sample of nine
        // values, so that the lines among a background leave it as they are;
        // when the k-th lies outside it, the rounds below find it. The
        // differences from `base` are whole numbers below 2^53, so exact; a NaN
        // is not whole and an infinity leaves no finite span.
        if (round == 0 && whole && high - low < INF) {
            const auto span = double(2 * n);
            double base = low;
            if (high - low > span) {
                double sample[9];
                for (std::size_t j = 0; j < 9; ++j)
                    sample[j] = from[(2 * j + 1) * n / 18];
                std::sort(sample, sample + 9);
                const double guess = sample[std::min<std::size_t>(8, k * 9 / n)];
                base = std::clamp(guess - double(n), low, high - span);
            }
            const double top = std::min(high, base + span) - base;
            counts.assign(std::size_t(top) + 3, 0);
            for (std::size_t i = 0; i < n; ++i)
                ++counts[std::size_t(std::int64_t(std::clamp(from[i] - base, -1.0, top + 1) + 1))];
            std::size_t below = 0, b = 0;
            while (below + counts[b] <= k)
                below += counts[b++];
            if (b > 0 && b < counts.size() - 1)
                return b == 1 && base == low ? low : base + double(b - 1);
        }
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

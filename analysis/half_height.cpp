// The half-height crossings. A level far below the data would send a plain scan
// to the end of the range for every line; block minima and maxima at several
// levels let a search skip whole stretches that stay on one side, so such a
// level costs a few hundred reads per line. They are built only when a plain
// scan of SHORT_SCAN points did not succeed.
#include "analysis/half_height.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace korax {

namespace {

constexpr std::int64_t SHORT_SCAN = 256;
constexpr int SHIFT = 6;
constexpr std::int64_t FANOUT = std::int64_t(1) << SHIFT;

} // namespace

template <class T>
BasicHalfHeightFinder<T>::BasicHalfHeightFinder(std::span<const double> x, std::span<const T> y,
                                                std::int32_t first, std::int32_t last)
    : m_x(x), m_y(y), m_first(first), m_last(last) {}

template <class T> double BasicHalfHeightFinder<T>::crossing(std::int32_t j, double level) const {
    const auto a = std::size_t(j), b = std::size_t(j + 1);
    // Two neighbours both exactly on the level: the crossing is the first of them.
    if (m_y[b] == m_y[a]) return m_x[a];
    // In doubles: the difference of two extreme 32-bit intensities overflows
    // 32 bits, and is exact in a double.
    const double rise = double(m_y[b]) - double(m_y[a]);
    return m_x[a] + (level - double(m_y[a])) * (m_x[b] - m_x[a]) / rise;
}

template <class T>
std::optional<double> BasicHalfHeightFinder<T>::left(std::int32_t j0, double level) {
    if (j0 - 1 < m_first) return std::nullopt;
    const T y0 = m_y[std::size_t(j0)];
    if (double(y0) == level) return crossing(j0 - 1, level);
    if (auto k = find_down(j0 - 1, m_first, level, double(y0) > level)) return crossing(*k, level);
    return std::nullopt;
}

template <class T>
std::optional<double> BasicHalfHeightFinder<T>::right(std::int32_t j0, double level) {
    if (j0 + 1 > m_last) return std::nullopt;
    const T y0 = m_y[std::size_t(j0)];
    if (double(y0) == level) return crossing(j0, level);
    if (auto k = find_up(std::max(j0 + 1, 1), m_last, level, double(y0) > level))
        return crossing(*k - 1, level);
    return std::nullopt;
}

namespace {

// The first point from k down to `end` (k >= end - 1) on the far side, or
// end - 1; sixteen points are tested together, which the compiler makes
// vector compares.
template <class T, class Far>
std::int64_t scan_down(const T* y, std::int64_t k, std::int64_t end, const Far& far) {
    for (; k - 15 >= end; k -= 16) {
        bool any = false;
        for (int j = 0; j < 16; ++j)
            any |= far(y[k - j]);
        if (any) break;
    }
    for (; k >= end; --k)
        if (far(y[k])) return k;
    return end - 1;
}

// The first point from k up to `end` on the far side, or end + 1.
template <class T, class Far>
std::int64_t scan_up(const T* y, std::int64_t k, std::int64_t end, const Far& far) {
    for (; k + 15 <= end; k += 16) {
        bool any = false;
        for (int j = 0; j < 16; ++j)
            any |= far(y[k + j]);
        if (any) break;
    }
    for (; k <= end; ++k)
        if (far(y[k])) return k;
    return end + 1;
}

// The test for the far side of the level, handed to `search` (a generic
// function of the test): for integers the level becomes an integer bound,
// so that no point is converted; a bound no point can meet means no point.
template <class T, class Search>
std::optional<std::int32_t> with_far_side(double level, bool above, const Search& search) {
    if constexpr (std::is_integral_v<T>) {
        if (std::isnan(level)) return std::nullopt;
        if (above) {
            // double(y) <= level, y an integer: y <= floor(level).
            const double bound = std::floor(level);
            if (bound < double(std::numeric_limits<T>::min())) return std::nullopt;
            const T t = bound >= double(std::numeric_limits<T>::max())
                            ? std::numeric_limits<T>::max()
                            : static_cast<T>(bound);
            return search([t](T y) { return y <= t; });
        }
        const double bound = std::ceil(level);
        if (bound > double(std::numeric_limits<T>::max())) return std::nullopt;
        const T t = bound <= double(std::numeric_limits<T>::min()) ? std::numeric_limits<T>::min()
                                                                   : static_cast<T>(bound);
        return search([t](T y) { return y >= t; });
    } else {
        if (above) return search([level](T y) { return y <= level; });
        return search([level](T y) { return y >= level; });
    }
}

} // namespace

// Last k in [a, b] (searching downward from b) on the far side of the level.
// After the short scan, whole blocks that stay on the near side are skipped,
// the largest that fits first; a block of the lowest level that reaches the
// level is scanned point by point.
template <class T>
std::optional<std::int32_t> BasicHalfHeightFinder<T>::find_down(std::int32_t b, std::int32_t a,
                                                                double level, bool above) {
    return with_far_side<T>(level, above, [&](const auto& far) -> std::optional<std::int32_t> {
        const T* y = m_y.data();
        // Plainly over SHORT_SCAN points, and over any that lie past the blocks.
        const std::int64_t short_end = std::max<std::int64_t>(
            a, std::min<std::int64_t>(std::int64_t(b) - SHORT_SCAN + 1, std::int64_t(m_last) + 1));
        std::int64_t k = scan_down(y, b, short_end, far);
        if (k >= short_end) return static_cast<std::int32_t>(k);
        if (k < a) return std::nullopt;
        build();
        while (k >= a) {
            const std::int64_t off = k - m_first;
            const std::int64_t into = (off + 1) & (FANOUT - 1);
            std::int64_t end;
            if (into != 0) {
                // To the start of the lowest-level block that holds k.
                end = std::max<std::int64_t>(a, k - into + 1);
            } else {
                bool skipped = false;
                for (int level_index = int(m_min.size()); level_index >= 1; --level_index) {
                    const int shift = SHIFT * level_index;
                    const std::int64_t size = std::int64_t(1) << shift;
                    if (((off + 1) & (size - 1)) != 0 || k - size + 1 < a) continue;
                    if (!block_reaches(level_index, off >> shift, level, above)) {
                        k -= size;
                        skipped = true;
                        break;
                    }
                }
                if (skipped) continue;
                end = std::max<std::int64_t>(a, k - FANOUT + 1);
            }
            const std::int64_t j = scan_down(y, k, end, far);
            if (j >= end) return static_cast<std::int32_t>(j);
            k = end - 1;
        }
        return std::nullopt;
    });
}

// First k in [a, b] searching upward from a; the same way.
template <class T>
std::optional<std::int32_t> BasicHalfHeightFinder<T>::find_up(std::int32_t a, std::int32_t b,
                                                              double level, bool above) {
    return with_far_side<T>(level, above, [&](const auto& far) -> std::optional<std::int32_t> {
        const T* y = m_y.data();
        const std::int64_t short_end = std::min<std::int64_t>(
            b, std::max<std::int64_t>(std::int64_t(a) + SHORT_SCAN - 1, std::int64_t(m_first) - 1));
        std::int64_t k = scan_up(y, a, short_end, far);
        if (k <= short_end) return static_cast<std::int32_t>(k);
        if (k > b) return std::nullopt;
        build();
        while (k <= b) {
            const std::int64_t off = k - m_first;
            const std::int64_t into = off & (FANOUT - 1);
            std::int64_t end;
            if (into != 0) {
                end = std::min<std::int64_t>(b, k + (FANOUT - into) - 1);
            } else {
                bool skipped = false;
                for (int level_index = int(m_min.size()); level_index >= 1; --level_index) {
                    const int shift = SHIFT * level_index;
                    const std::int64_t size = std::int64_t(1) << shift;
                    if ((off & (size - 1)) != 0 || k + size - 1 > b) continue;
                    if (!block_reaches(level_index, off >> shift, level, above)) {
                        k += size;
                        skipped = true;
                        break;
                    }
                }
                if (skipped) continue;
                end = std::min<std::int64_t>(b, k + FANOUT - 1);
            }
            const std::int64_t j = scan_up(y, k, end, far);
            if (j <= end) return static_cast<std::int32_t>(j);
            k = end + 1;
        }
        return std::nullopt;
    });
}

template <class T>
bool BasicHalfHeightFinder<T>::block_reaches(int level_index, std::int64_t block, double level,
                                             bool above) const {
    const auto b = std::size_t(block);
    return above ? double(m_min[std::size_t(level_index - 1)][b]) <= level
                 : double(m_max[std::size_t(level_index - 1)][b]) >= level;
}

// The lowest level is taken straight from the data (no copy of millions of
// points), every further level from the one below it.
template <class T> void BasicHalfHeightFinder<T>::build() {
    if (!m_min.empty()) return;
    const std::int64_t n = std::int64_t(m_last) - m_first + 1;
    std::vector<T> mins(std::size_t((n + FANOUT - 1) / FANOUT));
    std::vector<T> maxs(mins.size());
    for (std::size_t b = 0; b < mins.size(); ++b) {
        const std::int64_t first = m_first + std::int64_t(b) * FANOUT;
        const std::int64_t last = std::min<std::int64_t>(std::int64_t(m_last) + 1, first + FANOUT);
        T lo = m_y[std::size_t(first)], hi = lo;
        for (std::int64_t k = first + 1; k < last; ++k) {
            lo = std::min(lo, m_y[std::size_t(k)]);
            hi = std::max(hi, m_y[std::size_t(k)]);
        }
        mins[b] = lo;
        maxs[b] = hi;
    }
    for (;;) {
        const std::size_t size = mins.size();
        m_min.push_back(std::move(mins));
        m_max.push_back(std::move(maxs));
        if (size <= 1) break;
        const auto& below_min = m_min.back();
        const auto& below_max = m_max.back();
        mins.assign((size + FANOUT - 1) / FANOUT, 0);
        maxs.assign(mins.size(), 0);
        for (std::size_t b = 0; b < mins.size(); ++b) {
            const std::size_t first = b * std::size_t(FANOUT);
            const std::size_t last = std::min(size, first + std::size_t(FANOUT));
            mins[b] = *std::min_element(below_min.begin() + std::ptrdiff_t(first),
                                        below_min.begin() + std::ptrdiff_t(last));
            maxs[b] = *std::max_element(below_max.begin() + std::ptrdiff_t(first),
                                        below_max.begin() + std::ptrdiff_t(last));
        }
    }
}

template class BasicHalfHeightFinder<std::int32_t>;
template class BasicHalfHeightFinder<double>;

} // namespace korax

// Where a line crosses a level on either side of its top: the half-height
// crossings from which the O key and PEAKFINDER take a line's full width at
// half height, and the profile fit the width of the smoothed line it starts
// from. One finder serves many lines of one spectrum, so PEAKFINDER builds its
// skipping tables once for the whole search.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korax {

struct Crossings {
    std::optional<double> left, right;
    // The full width at half height: only when both crossings were found.
    std::optional<double> width() const {
        if (left && right) return *right - *left;
        return std::nullopt;
    }
};

// Over data x/y (1-based, at least as long as `last`), searching no further
// out than points first..last, though the top j0 itself may lie outside them.
// Intensities are the store's integers or, for smoothed data, doubles.
template <class T> class BasicHalfHeightFinder {
  public:
    BasicHalfHeightFinder(std::span<const double> x, std::span<const T> y, std::int32_t first,
                          std::int32_t last);

    // The crossing of `level` in the first pair (j, j + 1) that has its points
    // on both sides of the level (or one on it), searching leftward from
    // (j0 - 1, j0) down to j = first; linearly interpolated, the first point of
    // two equal ones.
    std::optional<double> left(std::int32_t j0, double level);
    // The same rightward from (j0, j0 + 1) up to j + 1 = last.
    std::optional<double> right(std::int32_t j0, double level);
    Crossings around(std::int32_t j0, double level) { return {left(j0, level), right(j0, level)}; }

  private:
    std::optional<std::int32_t> find_down(std::int32_t b, std::int32_t a, double level, bool above);
    std::optional<std::int32_t> find_up(std::int32_t a, std::int32_t b, double level, bool above);
    bool block_reaches(int level_index, std::int64_t block, double level, bool above) const;
    void build();
    double crossing(std::int32_t j, double level) const;

    std::span<const double> m_x;
    std::span<const T> m_y;
    std::int32_t m_first, m_last; // the points the block levels cover
    std::vector<std::vector<T>> m_min, m_max;
};
using HalfHeightFinder = BasicHalfHeightFinder<std::int32_t>;

} // namespace korax

// The line under a position as the raw points show it (where its lobe is, how
// wide, which way it points, the level and the noise around it) and the points
// of a window. Spectrum spans are 1-based like the store (element 0 unused)
// with ascending x.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korax {

// The standard deviation of rounding to whole counts, 1/sqrt(12): the least
// noise that integer intensities can carry, however still the points look.
inline constexpr double QUANTISATION_NOISE = 0.28867513459481287;

struct LineEstimate {
    double centre = 0; // frequency of the line centre
    double width = 0;  // lobe width (see lobe_width), in frequency
    double height = 0; // the line's lobe above `level`, signed (see height_offset)
    double level = 0;  // median of the surroundings
    // How far the surroundings' median and the parabola of their thirds lie
    // apart under the line: on a bent baseline the height may be off by that.
    double level_spread = 0;
    double noise = 0;      // standard deviation of the point-to-point noise around the line
                           // (of integer data at least QUANTISATION_NOISE)
    std::int32_t peak = 0; // the point where the smoothed data have the lobe's extreme
    int sign = 1;          // +1: the lobe at `peak` points up, -1: down
};

// Looks for the line whose lobe lies under point `start` of a line shape of
// derivative order `derivative`: climbs the data smoothed over a fraction of
// the line's width to the lobe's extreme, measures the half-height crossings
// there (order 1: the opposite lobe), and repeats with the smoothing the width
// asks for until the estimate settles. nullopt when no lobe with crossings on
// both sides is found within the surroundings.
struct PointRange {
    std::int32_t first = 1, last = 0;
    std::int32_t count() const { return last - first + 1; }
};

// `range` widened to hold first..last as well (an empty one becomes that).
void widen(PointRange& range, std::int32_t first, std::int32_t last);

// `read`, when given, is widened to every point the estimate read.
std::optional<LineEstimate> estimate_line(std::span<const double> x,
                                          std::span<const std::int32_t> y, std::int32_t npts,
                                          std::int32_t start, int derivative,
                                          PointRange* read = nullptr);
std::optional<LineEstimate> estimate_line(std::span<const double> x, std::span<const double> y,
                                          std::int32_t npts, std::int32_t start, int derivative,
                                          PointRange* read = nullptr);

// The points with x within [low, high], kept inside 1..npts; empty (count 0 or
// less) when none is.
PointRange points_between(std::span<const double> x, std::int32_t npts, double low, double high);

// The point whose x is nearest to f.
std::int32_t nearest_point(std::span<const double> x, std::int32_t npts, double f);

} // namespace korax

// A second spectrum against the first: the reference interpolated onto the
// grid of the spectrum in work, the least-squares scale between the two, and
// their difference main - k x reference. The viewer's reference and difference
// keys and `korax diff` share these, so both give the same integers.
//
// Every span is 1-based like the store: element 0 is not read, and the points
// are [1, size - 1]. The interpolation takes the very steps of
// numpy.interp(x, xp, fp) and this file is built without contracted
// multiply-adds, so that an independent computation gives the same doubles.
// Passes over millions of points run their two halves side by side where
// there is a second core; the results are the same either way.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace korax {

// The reference rf[1..m], ry[1..m] (frequencies not decreasing, m >= 1) at
// every x[i]: the line through the two reference points around x[i], the
// point itself where x[i] is one, and NaN where x[i] lies outside
// [rf[1], rf[m]] (the reference does not cover it) or is NaN. `out` has the
// size of `x`. Rising x cost one pass over both axes.
void interpolate_reference(std::span<const double> x, std::span<const double> rf,
                           std::span<const std::int32_t> ry, std::span<double> out);

// main ~ k x ref + c by least squares over the points first..last where ref
// is a number (not NaN). `ok` is false with fewer than two such points or a
// reference that is flat over them (no k fits); k and c are then 0.
struct ScaleFit {
    double k = 0, c = 0;
    std::int64_t points = 0; // the points the fit used
    bool ok = false;
};

// The sums of a fit are taken about the pair's first covered point (so that
// squares of intensities in the tens of thousands do not cancel), block by
// block of FIT_BLOCK points (block b: points b x FIT_BLOCK + 1 onwards): a
// fit reads the blocks within its range whole and its two ends point by
// point. Kept, the blocks make a fit over any range of the same pair cost
// one addition a block.
inline constexpr std::int32_t FIT_BLOCK = 1024;
struct FitTotals {
    double m = 0, r = 0, mr = 0, rr = 0, n = 0;
};
struct FitBlocks {
    bool covered = false; // false: the reference covers no point
    double m0 = 0, r0 = 0;
    std::vector<FitTotals> blocks;
};
FitBlocks fit_blocks(std::span<const std::int32_t> main, std::span<const double> ref);
// With `blocks` (fit_blocks of this very main and ref) the blocks are read
// instead of computed; the result is the same to the last bit.
ScaleFit fit_scale(std::span<const std::int32_t> main, std::span<const double> ref,
                   std::int32_t first, std::int32_t last, const FitBlocks* blocks = nullptr);

// out[i] = main[i] - k x ref[i], truncated toward zero and held in the 32-bit
// range, for i = first..last; where ref[i] is NaN the reference is taken as 0
// (out[i] = main[i]). `out` may be `main` itself. Returns the sum of what it
// wrote, which a caller taking the difference for good needs for its mean and
// gets here without a second pass over the points.
std::int64_t subtract_reference(std::span<const std::int32_t> main, std::span<const double> ref,
                                double k, std::span<std::int32_t> out, std::int32_t first,
                                std::int32_t last);

// What subtract_reference would write over first..last (first <= last), without
// writing it: the first and last values and the smallest and largest. The
// viewer draws the difference from these per pixel column.
struct DifferenceExtremes {
    std::int32_t first = 0, last = 0, low = 0, high = 0;
};
DifferenceExtremes difference_extremes(std::span<const std::int32_t> main,
                                       std::span<const double> ref, double k, std::int32_t first,
                                       std::int32_t last);

// The same over each of `spans` (in rising order, each first <= last) into
// `out`, the two halves of the points side by side where it pays.
struct PointSpan {
    std::int32_t first = 1, last = 0;
};
void difference_extremes(std::span<const std::int32_t> main, std::span<const double> ref, double k,
                         std::span<const PointSpan> spans, std::span<DifferenceExtremes> out);

// The points of [first, last] that the reference covers (ref not NaN).
std::int64_t covered_points(std::span<const double> ref, std::int32_t first, std::int32_t last);

} // namespace korax

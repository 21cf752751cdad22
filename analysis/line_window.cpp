// Finding the line under a position on the raw points. The estimate works on
// the data smoothed against noise, since it only has to be good enough to
// start a fit and size its window; its crossings and its top come from the
// workers the O key and PEAKFINDER use on their own points.
#include "analysis/line_window.h"

#include "analysis/half_height.h"
#include "analysis/line_fit.h"
#include "analysis/order_statistic.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <functional>
#include <type_traits>

namespace korax {

namespace {

// The surroundings that give the level and the noise: wide enough that a line
// covers a small part of them, so that their medians see the background.
constexpr std::int32_t MIN_SURROUNDINGS = 256;
constexpr std::int32_t MAX_SURROUNDINGS = 20000;
constexpr int MAX_PASSES = 5;
// The noise is measured outside NOISE_EXCLUSION lobe widths of the line, on at
// least MIN_NOISE_POINTS points.
constexpr double NOISE_EXCLUSION = 4;
constexpr std::int32_t MIN_NOISE_POINTS = 64;
// Each third of the surroundings gives a median of the background.
constexpr std::int32_t MIN_THIRD = 32;
// The smoothed points this many (and twice the smoothing's half width) either
// side of a lobe's top hold its crossings, unless it is far wider than a line.
constexpr std::int32_t NEAR_TOP = 32;

// The points of a stretch as doubles with running sums, so that the smoothed
// value at any point costs two reads.
class Stretch {
  public:
    template <class T>
    Stretch(std::span<const T> y, std::int32_t first, std::int32_t last)
        : m_first(first), m_last(last) {
        // Filled as they grow: cleared first, each would be written twice.
        m_y.assign(y.begin() + first, y.begin() + last + 1);
        m_sum.reserve(m_y.size() + 1);
        m_sum.push_back(0);
        if constexpr (std::is_integral_v<T>) {
            // Sums of counts are whole numbers far below 2^53, which the
            // doubles' sums hold exactly too: the same values, without the
            // wait of a floating addition at every point.
            std::int64_t sum = 0;
            for (std::int32_t i = first; i <= last; ++i) {
                sum += y[std::size_t(i)];
                m_sum.push_back(double(sum));
            }
        } else {
            for (const double v : m_y)
                m_sum.push_back(m_sum.back() + v);
        }
    }
    std::int32_t first() const { return m_first; }
    std::int32_t last() const { return m_last; }
    double raw(std::int32_t i) const { return m_y[std::size_t(i - m_first)]; }
    // Mean over i - h .. i + h, cut at the ends of the stretch.
    double smoothed(std::int32_t i, std::int32_t h) const {
        const std::int32_t a = std::max(m_first, i - h), b = std::min(m_last, i + h);
        return (m_sum[std::size_t(b - m_first + 1)] - m_sum[std::size_t(a - m_first)]) /
               double(b - a + 1);
    }
    double median() const { return median_of(m_y); }
    // The background at point i: the parabola through the medians of the
    // stretch's thirds at their middles. A baseline that bends over the
    // stretch (a slow wave several times the line's height) puts one median
    // far from the level under the line, and every crossing measured from it
    // out on the bend; a line covers little of any third.
    double level_at(std::int32_t i) const {
        const std::int32_t n = m_last - m_first + 1;
        if (n < 3 * MIN_THIRD) return median();
        std::array<double, 3> at{}, value{};
        for (int k = 0; k < 3; ++k) {
            const std::int32_t a = m_first + k * n / 3, b = m_first + (k + 1) * n / 3 - 1;
            value[std::size_t(k)] =
                median_of(std::span(m_y).subspan(std::size_t(a - m_first), std::size_t(b - a + 1)));
            at[std::size_t(k)] = (a + b) / 2.0;
        }
        double sum = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            double term = value[k];
            for (std::size_t l = 0; l < 3; ++l)
                if (l != k) term *= (i - at[l]) / (at[k] - at[l]);
            sum += term;
        }
        return sum;
    }
    // Second differences cancel a sloping background; 1.4826 median|d| / sqrt(6)
    // is the standard deviation of white noise whatever a few lines add. The
    // points from `low` to `high` (the line itself, whose own differences
    // would count as noise) are left out while enough others remain.
    double noise(std::int32_t low, std::int32_t high) const {
        thread_local std::vector<double> d; // kept: every pass of every estimate asks
        d.clear();
        auto take = [&](std::int32_t a, std::int32_t b) {
            const std::int32_t from = std::max(a, m_first) + 1, to = std::min(b, m_last);
            if (from >= to) return;
            const std::size_t at = d.size();
            d.resize(at + std::size_t(to - from));
            const double* y = m_y.data() + (from - 1 - m_first); // the point before `from`
            for (std::size_t i = 0; i < std::size_t(to - from); ++i)
                d[at + i] = std::abs(y[i] - 2 * y[i + 1] + y[i + 2]);
        };
        take(m_first, low);
        take(high, m_last);
        if (d.size() < std::size_t(MIN_NOISE_POINTS)) {
            d.clear();
            take(m_first, m_last);
        }
        if (d.empty()) return 0;
        return 1.4826 * median_of(d) / std::sqrt(6.0);
    }

  private:
    static double median_of(std::span<const double> v) { return kth_smallest(v, v.size() / 2); }
    std::int32_t m_first, m_last;
    std::vector<double> m_y, m_sum;
};

// From i, the extreme of sign * (smoothed value) reached by climbing. Not the
// O key's climb (climb_to_extremum): that one follows the raw points one way
// only and stops at the first noise spike, which is what the O key does and
// what an estimate that must land on the line cannot.
std::int32_t climb(const Stretch& s, std::int32_t i, std::int32_t h, int sign) {
    auto value = [&](std::int32_t k) { return sign * s.smoothed(k, h); };
    for (;;) {
        if (i < s.last() && value(i + 1) > value(i))
            ++i;
        else if (i > s.first() && value(i - 1) > value(i))
            --i;
        else
            return i;
    }
}

// The smoothed values of points lo..hi of a stretch, 1-based from lo (so that
// the shared workers can take them), with the matching frequencies.
struct SmoothedStretch {
    std::span<const double> x;
    std::vector<double> y;
    std::int32_t offset = 0; // the stretch's point i is element i - offset
    std::int32_t count = 0;
    // The stretch's ends, and whether lo..hi stops short of either.
    std::int32_t first = 0, last = 0;
    bool cut_low = false, cut_high = false;
    std::span<const double> stretch_x; // 1-based from the stretch's first point
};

SmoothedStretch smoothed_stretch(const Stretch& s, std::span<const double> x, std::int32_t h,
                                 std::int32_t lo, std::int32_t hi) {
    SmoothedStretch t;
    t.offset = lo - 1;
    t.count = hi - t.offset;
    t.first = s.first();
    t.last = s.last();
    t.cut_low = lo > s.first();
    t.cut_high = hi < s.last();
    t.x = x.subspan(std::size_t(t.offset));
    t.stretch_x = x.subspan(std::size_t(s.first() - 1));
    t.y.resize(std::size_t(t.count) + 1);
    for (std::int32_t k = 1; k <= t.count; ++k)
        t.y[std::size_t(k)] = s.smoothed(t.offset + k, h);
    return t;
}

// The top of the smoothed lobe at point j, finer than a point: the O key's
// parabola over j - d .. j + d, moved once onto the fitted top, and kept
// within those points (a flat or noisy top may put the vertex anywhere).
// Nullopt when the parabola moves to points near where `t` stops short of its
// stretch: there the whole stretch must give the answer.
std::optional<double> vertex(const SmoothedStretch& t, std::int32_t j, std::int32_t h) {
    const std::int32_t d = std::max(1, h / 2);
    const std::int32_t at = j - t.offset;
    const double fallback = t.x[std::size_t(at)];
    if (at - d < 1 || at + d > t.count) {
        if ((at - d < 1 && t.cut_low) || (at + d > t.count && t.cut_high)) return std::nullopt;
        return fallback;
    }
    const std::span<const double> y(t.y);
    bool beyond = false;
    const std::function<std::int64_t(double)> recentre = [&](double f) {
        // Found among all of the stretch's points, as the whole one would.
        const std::int32_t whole = t.last - (t.first - 1);
        const std::int64_t k =
            std::int64_t(nearest_point(t.stretch_x, whole, f)) + (t.first - 1) - t.offset;
        if ((k - d < 2 && t.cut_low) || (k + d > t.count - 1 && t.cut_high)) beyond = true;
        return std::clamp<std::int64_t>(k, 1, t.count);
    };
    LineFit fit;
    const LineFitOutcome outcome = fit_and_recentre(t.x, y, t.count, at, d, 2, recentre, fit);
    if (beyond) return std::nullopt;
    if (outcome != LineFitOutcome::Fitted) return fallback;
    return std::clamp(fit.FPEAK, t.x[std::size_t(at - d)], t.x[std::size_t(at + d)]);
}

template <class T>
std::optional<LineEstimate> estimate(std::span<const double> x, std::span<const T> y,
                                     std::int32_t npts, std::int32_t start, int derivative,
                                     PointRange* read) {
    assert(npts >= 1 && x.size() > std::size_t(npts) && y.size() > std::size_t(npts));
    if (npts < 5) return std::nullopt;
    std::int32_t i0 = std::clamp(start, 1, npts);
    double width_points = 0; // of the previous pass
    std::int32_t h = 1;
    int sign = 0;
    std::optional<LineEstimate> best;
    // A pass that reads the surroundings of the one before (most do: the
    // line is narrow beside them) keeps their points and their levels.
    std::optional<Stretch> surroundings;
    std::int32_t levels_at = 0;
    double median = 0, bent = 0;
    // The noise is a median of its own and only the estimate returned needs
    // it: measured when it is returned, on the surroundings of the pass that
    // gave it, kept aside while a later pass reads others.
    std::optional<PointRange> noise_outside;
    std::optional<Stretch> best_surroundings;
    auto measure_noise = [&] {
        if (!noise_outside) return;
        const Stretch& of = best_surroundings ? *best_surroundings : *surroundings;
        best->noise = of.noise(noise_outside->first, noise_outside->last);
        // A few counts that mostly repeat give a median difference of 0; the
        // fit's errors and its test for a further line need the noise the
        // rounding leaves at least.
        if constexpr (std::is_integral_v<T>)
            best->noise = std::max(best->noise, QUANTISATION_NOISE);
        noise_outside.reset();
    };
    auto result = [&] {
        measure_noise();
        return best;
    };
    for (int pass = 0; pass < MAX_PASSES; ++pass) {
        const std::int32_t reach = std::clamp(std::int32_t(std::ceil(16 * width_points)),
                                              MIN_SURROUNDINGS, MAX_SURROUNDINGS);
        const std::int32_t first = std::max(1, i0 - reach), last = std::min(npts, i0 + reach);
        if (!surroundings || surroundings->first() != first || surroundings->last() != last) {
            if (noise_outside) best_surroundings = std::move(surroundings);
            surroundings.emplace(y, first, last);
            if (read) widen(*read, first, last);
            levels_at = 0;
        }
        const Stretch& s = *surroundings;
        // Of the median and the parabola of the thirds, the level nearer the
        // lobe: a bend of the baseline lifts the median's lobe, a strong
        // neighbour's lobes in the middle third the parabola's, and neither
        // makes a lobe smaller than it is.
        if (levels_at != i0) {
            median = s.median();
            bent = s.level_at(i0);
            levels_at = i0;
        }
        const double at = s.smoothed(i0, h);
        if (sign == 0) sign = at >= median ? 1 : -1;
        const double level = sign > 0 ? std::max(median, bent) : std::min(median, bent);

        LineEstimate e;
        e.sign = sign;
        e.level = level;
        e.level_spread = std::abs(median - bent);
        e.peak = climb(s, i0, h, sign);
        const double top = s.smoothed(e.peak, h) - level;
        if (!(top * sign > 0)) return result();
        // The crossings and the vertex read the smoothed points near the top;
        // all of the stretch's only when one of them lies beyond those.
        std::optional<SmoothedStretch> smooth;
        std::optional<BasicHalfHeightFinder<double>> finder;
        const auto smooth_over = [&](std::int32_t lo, std::int32_t hi) {
            smooth = smoothed_stretch(s, x, h, lo, hi);
            finder.emplace(smooth->x, smooth->y, 1, smooth->count);
        };
        const auto smooth_all = [&] {
            if (smooth->cut_low || smooth->cut_high) smooth_over(s.first(), s.last());
        };
        const std::int32_t near = NEAR_TOP + 2 * h;
        smooth_over(std::max(s.first(), e.peak - near), std::min(s.last(), e.peak + near));
        // The crossings of `level` beside point i of the spectrum.
        const auto crossing = [&](std::int32_t i, int dir, double crossed) {
            const auto find = [&] {
                return dir < 0 ? finder->left(i - smooth->offset, crossed)
                               : finder->right(i - smooth->offset, crossed);
            };
            auto found = find();
            if (!found && (dir < 0 ? smooth->cut_low : smooth->cut_high)) {
                smooth_all();
                found = find();
            }
            return found;
        };
        auto left = crossing(e.peak, -1, level + top / 2);
        auto right = crossing(e.peak, +1, level + top / 2);
        // A lobe cut by an end of the spectrum has one crossing; the other
        // mirrors it, so that the line still gets a fit of what is there.
        if (derivative != 1 && left.has_value() != right.has_value()) {
            const double top_at = x[std::size_t(e.peak)];
            if (!left && first == 1 && *right > top_at) left = top_at - (*right - top_at);
            if (!right && last == npts && *left < top_at) right = top_at + (top_at - *left);
        }
        if (!left || !right) return result();
        if (derivative == 1) {
            // The other lobe lies within a few lobe widths on one side; the
            // deeper of the two sides has it.
            const double step = (x[std::size_t(last)] - x[std::size_t(first)]) / (last - first);
            const auto lobe = std::int32_t(std::ceil((*right - *left) / step));
            std::int32_t other = 0;
            double deepest = 0;
            for (std::int32_t k = std::max(first, e.peak - 4 * lobe - 2);
                 k <= std::min(last, e.peak + 4 * lobe + 2); ++k) {
                const double v = sign * (s.smoothed(k, h) - level);
                if (v < deepest) {
                    deepest = v;
                    other = k;
                }
            }
            // A first derivative has two lobes of one size; half of it allows for noise.
            if (other == 0 || -deepest < 0.5 * top * sign) return result();
            const int dir = other > e.peak ? 1 : -1;
            const auto zero = crossing(e.peak, dir, level);
            if (!zero) return result();
            e.centre = *zero;
            e.width = std::abs(x[std::size_t(other)] - x[std::size_t(e.peak)]);
            // The height is that of the lobe below the centre.
            e.height = dir > 0 ? top : s.smoothed(other, h) - level;
        } else {
            auto centre = vertex(*smooth, e.peak, h);
            if (!centre) {
                smooth_all();
                centre = vertex(*smooth, e.peak, h);
            }
            e.centre = *centre;
            e.width = *right - *left;
            e.height = top;
        }
        const double step = (x[std::size_t(last)] - x[std::size_t(first)]) / (last - first);
        const double points = e.width / step;
        const auto excluded = std::int32_t(std::ceil(NOISE_EXCLUSION * points)) + 2;
        const bool settled =
            best && best->peak == e.peak && std::abs(points - width_points) <= 0.05 * width_points;
        best = e;
        best_surroundings.reset();
        noise_outside = PointRange{e.peak - excluded, e.peak + excluded};
        if (settled) break;
        width_points = points;
        // Smoothing over a sixth of the width lowers the noise of the climb
        // about 2.5 times while it widens the lobe by a few per cent.
        h = std::max(1, std::int32_t(std::lround(points / 6)));
        i0 = e.peak;
    }
    return result();
}

} // namespace

std::optional<LineEstimate> estimate_line(std::span<const double> x,
                                          std::span<const std::int32_t> y, std::int32_t npts,
                                          std::int32_t start, int derivative, PointRange* read) {
    return estimate(x, y, npts, start, derivative, read);
}
std::optional<LineEstimate> estimate_line(std::span<const double> x, std::span<const double> y,
                                          std::int32_t npts, std::int32_t start, int derivative,
                                          PointRange* read) {
    return estimate(x, y, npts, start, derivative, read);
}

void widen(PointRange& range, std::int32_t first, std::int32_t last) {
    if (range.count() <= 0) {
        range = {first, last};
        return;
    }
    range.first = std::min(range.first, first);
    range.last = std::max(range.last, last);
}

PointRange points_between(std::span<const double> x, std::int32_t npts, double low, double high) {
    const auto begin = x.begin() + 1, end = x.begin() + 1 + npts;
    const auto a = std::lower_bound(begin, end, low);
    const auto b = std::upper_bound(begin, end, high);
    return {std::int32_t(a - begin) + 1, std::int32_t(b - begin)};
}

std::int32_t nearest_point(std::span<const double> x, std::int32_t npts, double f) {
    const auto begin = x.begin() + 1, end = x.begin() + 1 + npts;
    auto it = std::lower_bound(begin, end, f);
    if (it == end) return npts;
    if (it != begin && f - *(it - 1) <= *it - f) --it;
    return std::int32_t(it - begin) + 1;
}

} // namespace korax

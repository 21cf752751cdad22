// The inside of the profile fit, shared by its two halves: the window in the
// fit's own units, one least-squares solve from a start (Levenberg-Marquardt
// with the analytic Jacobian) with its covariance, the checks that refuse a
// solve, and the result in the caller's units. The choice of components
// (analysis/profile_fit.cpp) builds on these; nothing else includes this.
#pragma once

#include "analysis/peak_search.h"
#include "analysis/profile_fit.h"

#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace korax::profile_detail {

// Offsets in points from the window's middle keep the parameters of one size
// whatever the frequencies, and intensities scaled by the line's height keep
// the amplitudes near 1. Clipped points are not in t and y: a point at the
// limit of the recorder says only that the line went beyond it.
struct Problem {
    std::vector<double> t, y;
    double origin = 0, step = 1;      // x = origin + step * t
    double y_origin = 0, y_scale = 1; // intensity = y_origin + y_scale * y
    double half = 1;                  // of the window, in points
    double noise = 0;                 // scaled
    PointRange window;
    std::vector<double> clipped; // the offsets of the points left out
    bool cut = false;            // the window the line needs is cut by an end of the spectrum
};

// The 16-bit limits of the recorders' files.
inline constexpr double CLIP_LOW = -32768, CLIP_HIGH = 32767;

// Whether point i of y (1-based, the window first..last) is clipped: at a
// 16-bit limit, or in a run of three or more equal points at an extreme of
// the data (two equal tops are common enough on data of a few counts).
template <class T>
bool clipped_at(std::span<const T> y, std::int32_t i, PointRange window, double data_low,
                double data_high) {
    const double v = double(y[std::size_t(i)]);
    if (v >= CLIP_HIGH || v <= CLIP_LOW) return true;
    if (v != data_high && v != data_low) return false;
    auto same = [&](std::int32_t k) {
        return k >= window.first && k <= window.last && double(y[std::size_t(k)]) == v;
    };
    return (same(i - 1) && same(i + 1)) || (same(i - 1) && same(i - 2)) ||
           (same(i + 1) && same(i + 2));
}

template <class T>
Problem make_problem(std::span<const double> x, std::span<const T> y, PointRange window,
                     const LineEstimate& line, double data_low = -HUGE_VAL,
                     double data_high = HUGE_VAL) {
    Problem p;
    p.window = window;
    const double low = x[std::size_t(window.first)], high = x[std::size_t(window.last)];
    p.origin = (low + high) / 2;
    p.step = (high - low) / (window.count() - 1);
    p.y_origin = line.level;
    p.y_scale = std::abs(line.height) > 0 ? std::abs(line.height) : 1;
    p.half = (high - low) / 2 / p.step;
    p.noise = line.noise / p.y_scale;
    for (std::int32_t i = window.first; i <= window.last; ++i) {
        const double t = (x[std::size_t(i)] - p.origin) / p.step;
        if (clipped_at(y, i, window, data_low, data_high)) {
            p.clipped.push_back(t);
            continue;
        }
        p.t.push_back(t);
        p.y.push_back((double(y[std::size_t(i)]) - p.y_origin) / p.y_scale);
    }
    return p;
}

constexpr std::size_t MAX_ITERATIONS = 200;
// A trial component that has not settled after this many is not worth more: a
// split of a single line drifts on a flat valley where both halves merge.
constexpr std::size_t TRIAL_ITERATIONS = 40;

struct GslDelete {
    void operator()(gsl_matrix* m) const { gsl_matrix_free(m); }
    void operator()(gsl_vector* v) const { gsl_vector_free(v); }
};
template <class T> using GslPtr = std::unique_ptr<T, GslDelete>;

// One fit from one start.
struct Attempt {
    int components = 0;
    bool free = false; // every line with its own widths
    std::vector<double> p;
    std::vector<double> covariance; // unscaled, p x p
    double rss = 0;
    int iterations = 0;
    std::optional<FitRefusal> refusal;
    double variance() const; // of the residuals, per degree of freedom
    std::size_t points = 0;
};

// Least squares of b on the `columns` columns of `a` (each of `rows` values,
// one column after the other) by Householder QR; both are overwritten. The
// residual's sum of squares, or nullopt when a coefficient is not finite, as
// when two columns are not independent.
std::optional<double> qr_least_squares(std::span<double> a, std::size_t rows, std::size_t columns,
                                       std::span<double> b);

// The amplitudes and the baseline that fit best for given centres and widths:
// a linear problem, so the solver starts next to its answer. Its sum of
// squares into `rss` when asked.
std::optional<std::vector<double>> linear_start(const Problem& pr, const ProfileModel& model,
                                                const LineShape& shape,
                                                std::span<const double> centres,
                                                const LineWidths& widths, int degree,
                                                double* rss = nullptr);

// The solve from `start`; a refusal when it does not converge or leaves a
// parameter undetermined.
Attempt solve(const Problem& pr, const ProfileModel& model, std::vector<double> start,
              std::size_t max_iterations = MAX_ITERATIONS, int restarts = 2);

struct FitContext {
    LineShape shape;
    int degree = 1;
};

// The model the attempt was solved with.
ProfileModel model_of(const FitContext& ctx, const Problem& pr, const Attempt& a);

// The lobe width of the lines, their mean when each has its own.
double lobe_of(const FitContext& ctx, const ProfileModel& model, const Attempt& a);

// Why the attempt is refused, if it is.
std::optional<FitRefusal> check(const FitContext& ctx, const Problem& pr, const Attempt& a);

// The heights of the components and their variances (unscaled covariance).
struct Height {
    double value = 0, variance = 0;
};
Height height_of(const FitContext& ctx, const ProfileModel& model, const Attempt& a, int k);

// About what freeing the profile's other width (a Voigt from a Gaussian or a
// Lorentzian) would lower the sum of squares of the solved attempt `a` by:
// the most that one step of the linearised Voigt model reaches, from `a`
// with a sliver of that width (none when the step takes the width below
// zero, where the Voigt's bound stops it) and from Voigts of a's lobe width
// with both widths in play. Stops once the gain is `enough` of the residual
// variance it would leave. nullopt when it cannot be told (lines with their
// own widths, a Voigt already, a singular step).
std::optional<double> shape_gain(const FitContext& ctx, const Problem& pr, const Attempt& a,
                                 double enough);

// What the choice of components found beyond the attempt itself.
struct Verdicts {
    bool shape = false;      // a profile with free widths explains much of the misfit
    bool unresolved = false; // the residual asks for a split of the strongest line
    bool contested = false;  // the shape set free came near a further line's fit
};

// The attempt in the caller's units, errors scaled by the residual variance,
// each line's flags set.
ProfileFit result_of(const FitContext& ctx, const Problem& pr, const Attempt& a,
                     std::span<const double> x, const Verdicts& verdicts = {});

} // namespace korax::profile_detail

// The profile fit: the line under a position, alone or as a blend of up to five
// lines sharing their widths, fitted on the raw points with a baseline
// polynomial by nonlinear least squares; errors from the covariance scaled by
// the residual noise. The worker behind the viewer's fit key and the batch
// refinement of found lines: it takes spans, never a window or the store.
#pragma once

#include "analysis/line_window.h"
#include "analysis/lineshape.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

inline constexpr int MAX_COMPONENTS = 5;

// What the caller keeps for the run.
struct ProfileFitSettings {
    LineShape shape;          // second-derivative Lorentzian unless chosen otherwise
    int baseline_degree = 1;  // 0, 1 or 2
    int components = 0;       // 0: as many as the window shows (at most 5); 1..5: that many
    double window_widths = 4; // half the window, in lobe widths of the line
    // A blend's lines each with their own widths; otherwise they share them
    // unless the shared fit's residual asks for free ones.
    bool free_widths = false;
    // The extremes of the whole spectrum, when the caller knows them: a run of
    // points flat at one of them is a clipped top. Points at the 16-bit limits
    // are clipped whatever these say.
    double data_low = -std::numeric_limits<double>::infinity();
    double data_high = std::numeric_limits<double>::infinity();
    // A lobe that the first look at the points (before any fit) puts lower
    // than `least_height`, or than `least_noise_units` deviations of the noise
    // around it, is refused as no line. For places where most lobes are
    // noise: a fit of noise costs several times that of a line.
    double least_height = 0;
    double least_noise_units = 0;
    // Nor is a lobe that the first look finds farther than this many of its
    // widths from the position a line there: the climb left the position for
    // a stronger lobe beside it, which has a place of its own.
    double farthest_lobe = std::numeric_limits<double>::infinity();
    // Nor, when not 0, is a lobe that the first look finds pointing against
    // this sign (1 up, -1 down): at a place found as a lobe one way, a lobe
    // the other way is a neighbour's flank.
    int lobe_sign = 0;
    // When given, widened to every point the fit read (a caller running fits
    // side by side tells from it whether one read what another changed).
    PointRange* read = nullptr;
};

enum class FitRefusal {
    TooFewPoints,        // the window holds fewer points than the fit needs
    NoLine,              // no line with a lobe and two half-height crossings at the position
    NotConverged,        // the solver stopped without converging
    LeftWindow,          // the fitted width is wider than the window or narrower than a point
    CentreOutsideWindow, // a fitted centre lies outside the window
    Singular,            // a centre or a height is not determined by the points
    AtEnd,               // the window the line needs is cut by the end of the spectrum
};
// A few words for the result row, e.g. "fit did not converge".
std::string_view refusal_text(FitRefusal refusal);

// What the fit says of a line beyond its errors: the doubts a user filters on.
struct LineFlags {
    bool saturated = false; // points of its lobe clipped (left out of the fit)
    bool edge = false;      // its window is cut by the end of the spectrum
    bool blend = false;     // a line of the fit beside it, or one the residual asks for unresolved
    bool shape = false;     // the residual shows structure the profile does not explain
    bool low = false;       // weak (a few noise units) or its centre poorly determined
    bool any() const { return saturated || edge || blend || shape || low; }
    bool operator==(const LineFlags&) const = default;
};
// The names of the flags set, in the order above: "saturated", "edge",
// "blend?", "shape", "low".
std::vector<std::string_view> flag_names(const LineFlags& flags);
// Those names joined by blanks, "-" when none is set (one word for awk).
std::string flags_text(const LineFlags& flags);

struct FittedComponent {
    double centre = 0, centre_error = 0;
    double height = 0, height_error = 0; // of the lobe that height_offset names, above the baseline
    double amplitude = 0;                // the coefficient of the unit shape (see ShapePoint)
    LineWidths widths, width_errors;     // its own: the fit's unless the widths are free
    double lobe_width = 0;
    LineFlags flags;
};

struct ProfileFit {
    LineShape shape;
    int baseline_degree = 1;
    PointRange window;                       // the points fitted
    double low = 0, high = 0;                // their first and last frequency
    std::vector<FittedComponent> components; // by ascending centre
    LineWidths widths, width_errors;         // an undetermined width has an infinite error
    bool free_widths = false;                // each line has its own (widths: the strongest line's)
    double lobe_width = 0;                   // the fitted shape's, see lobe_width
    double reduced_chi_square = 0;           // residual variance / noise variance
    double residual_rms = 0;
    double noise = 0; // point-to-point noise of the surroundings, the reference of chi-square
    int iterations = 0;
    int clipped_points = 0; // in the window, left out of the fit

    // The baseline polynomial in tau = (x - baseline_centre) / baseline_half.
    double baseline_centre = 0, baseline_half = 1;
    std::array<double, 3> baseline_coefficients{};

    double baseline(double x) const;
    double curve(double x) const; // lines and baseline, as fitted
};

// A fit, or why there is none: a refused fit has nothing to store.
class [[nodiscard]] FitOutcome {
  public:
    FitOutcome(ProfileFit fit) : m_fit(std::move(fit)) {}
    FitOutcome(FitRefusal refusal) : m_refusal(refusal) {}
    explicit operator bool() const { return m_fit.has_value(); }
    const ProfileFit& operator*() const { return *m_fit; }
    const ProfileFit* operator->() const { return &*m_fit; }
    FitRefusal refusal() const { return m_refusal; }

  private:
    std::optional<ProfileFit> m_fit;
    FitRefusal m_refusal = FitRefusal::NotConverged;
};

// Fits the line under frequency `position` of x/y (1-based, npts points,
// ascending x). `predicted` (ascending frequencies, e.g. of an open catalogue)
// replaces the scan: the predictions inside the window become the components,
// with the line at the position when none lies near it. Nothing is changed but
// the thread's scratch; a refused fit returns only the reason.
FitOutcome fit_profile(std::span<const double> x, std::span<const std::int32_t> y,
                       std::int32_t npts, double position, const ProfileFitSettings& settings,
                       std::span<const double> predicted = {});
FitOutcome fit_profile(std::span<const double> x, std::span<const double> y, std::int32_t npts,
                       double position, const ProfileFitSettings& settings,
                       std::span<const double> predicted = {});

// The model the solver sees, in the fit's own units: offsets t in points from
// the window's middle, intensities scaled. Parameters in this order: the K
// centres, the K amplitudes, the widths the profile uses (Gaussian before
// Lorentzian; taken by absolute value; once for all lines, or with free
// widths one set per line in the lines' order), the baseline coefficients of
// tau^0 .. tau^degree with tau = t / half.
class ProfileModel {
  public:
    ProfileModel(LineShape shape, int components, int baseline_degree, double half,
                 bool free_widths = false);
    int parameter_count() const;
    int components() const { return m_components; }
    int degree() const { return m_degree; }
    const LineShape& shape() const { return m_shape; }
    bool free_widths() const { return m_free; }
    int width_count() const; // of one line
    // Where line k's first width parameter is.
    std::size_t width_at(int k) const;
    // The value at t; the partial derivatives by every parameter into
    // `gradient` when it is not empty.
    double value(std::span<const double> parameters, double t, std::span<double> gradient) const;
    // value() at every t into `values`, and, when `jacobian` is not empty, the
    // gradients into it row by row (t.size() rows of parameter_count()).
    void evaluate(std::span<const double> parameters, std::span<const double> t,
                  std::span<double> values, std::span<double> jacobian) const;
    // The widths of line k (of every line when they are shared).
    LineWidths widths(std::span<const double> parameters, int k = 0) const;

  private:
    LineShape m_shape;
    int m_components, m_degree;
    double m_half;
    bool m_free = false;
};

} // namespace korax

// One least-squares solve of the profile model: Levenberg-Marquardt on the
// normal equations with the analytic Jacobian, a stop once the steps are far
// inside a standard error, the Voigt whose width runs to its bound, the
// covariance, the checks that refuse a solve, and the result with its errors.
#include "analysis/profile_solve.h"

#include "base/cloned.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

namespace korax::profile_detail {

// ---- the solver ---------------------------------------------------------------------

namespace {

// Relative step and gradient at which the solver stops; 1e-10 of a point puts
// a noiseless line on its centre far below the 1e-6 of a step asked of it.
constexpr double XTOL = 1e-10, GTOL = 1e-10;
// A step that lowers the sum of squares by less than this many residual
// variances leaves the fit about sqrt(CHI_SQUARE_STEP) standard errors from
// its minimum, far inside what the points determine.
constexpr double CHI_SQUARE_STEP = 1e-6;
// A column of the Jacobian this much smaller than the largest (after QR) is
// taken as dependent: its parameter is not determined by the points.
constexpr double COVARIANCE_EPSREL = 1e-11;
// A Voigt width below this fraction of the other one has gone to its bound.
constexpr double VOIGT_ZERO = 1e-3;

} // namespace

// Floored at rounding (the intensities are scaled to the line's height): on
// noiseless data an improvement in the last bits must not count as a line.
double Attempt::variance() const {
    return std::max(rss / double(points - p.size()), 1e-18);
}

namespace {

void quiet_gsl() {
    // GSL's default answer to an error is to abort the program; here every
    // status is looked at where it is returned.
    static const bool done = [] {
        gsl_set_error_handler_off();
        return true;
    }();
    (void)done;
}

} // namespace

std::optional<double> qr_least_squares(std::span<double> a, std::size_t rows, std::size_t columns,
                                       std::span<double> b) {
    assert(a.size() >= rows * columns && b.size() >= rows && rows >= columns);
    // Householder reflections on the columns (stored one after the other), each
    // applied at once to the columns after it and to b: the problems are a
    // few columns of tens of points, where a library's general blocks and
    // allocations cost ten times the arithmetic.
    thread_local std::vector<double> diagonal;
    diagonal.resize(columns);
    for (std::size_t k = 0; k < columns; ++k) {
        double* v = a.data() + k * rows;
        double norm = 0;
        for (std::size_t i = k; i < rows; ++i)
            norm += v[i] * v[i];
        norm = std::sqrt(norm);
        if (!(norm > 0)) return std::nullopt;
        // The sign that adds, not cancels, to the first element.
        const double alpha = v[k] > 0 ? -norm : norm;
        v[k] -= alpha;
        double vnorm = 0;
        for (std::size_t i = k; i < rows; ++i)
            vnorm += v[i] * v[i];
        diagonal[k] = alpha;
        auto reflect = [&](double* c) {
            double dot = 0;
            for (std::size_t i = k; i < rows; ++i)
                dot += v[i] * c[i];
            const double f = 2 * dot / vnorm;
            for (std::size_t i = k; i < rows; ++i)
                c[i] -= f * v[i];
        };
        for (std::size_t j = k + 1; j < columns; ++j)
            reflect(a.data() + j * rows);
        reflect(b.data());
    }
    // The coefficients must be finite: R's back substitution tells.
    thread_local std::vector<double> x;
    x.resize(columns);
    for (std::size_t k = columns; k-- > 0;) {
        double sum = b[k];
        for (std::size_t j = k + 1; j < columns; ++j)
            sum -= a[j * rows + k] * x[j];
        x[k] = sum / diagonal[k];
        if (!std::isfinite(x[k])) return std::nullopt;
    }
    double left = 0;
    for (std::size_t i = columns; i < rows; ++i)
        left += b[i] * b[i];
    return left;
}

namespace {

// Calls `fixed` with the count of parameters as a constant where a fit has
// one of the usual counts; false otherwise.
template <class Fixed> bool with_fixed_count(std::size_t np, Fixed&& fixed) {
    switch (np) {
    case 3:
        fixed.template operator()<3>();
        return true;
    case 4:
        fixed.template operator()<4>();
        return true;
    case 5:
        fixed.template operator()<5>();
        return true;
    case 6:
        fixed.template operator()<6>();
        return true;
    case 7:
        fixed.template operator()<7>();
        return true;
    case 8:
        fixed.template operator()<8>();
        return true;
    case 9:
        fixed.template operator()<9>();
        return true;
    case 10:
        fixed.template operator()<10>();
        return true;
    case 11:
        fixed.template operator()<11>();
        return true;
    case 12:
        fixed.template operator()<12>();
        return true;
    case 13:
        fixed.template operator()<13>();
        return true;
    case 14:
        fixed.template operator()<14>();
        return true;
    case 15:
        fixed.template operator()<15>();
        return true;
    case 16:
        fixed.template operator()<16>();
        return true;
    default:
        return false;
    }
}

// The sums of A^T A (lower triangle, rows of NP) and A^T b, row after row
// in the order of the general loop, kept in registers.
template <std::size_t NP>
KORAX_CLONED void normal_sums_fixed(const double* a, const double* b, std::size_t n, double* ata,
                                    double* atb) {
    double sum[NP][NP] = {}, by[NP] = {};
    for (std::size_t i = 0; i < n; ++i) {
        const double* row = a + i * NP;
        for (std::size_t j = 0; j < NP; ++j) {
            by[j] += row[j] * b[i];
            for (std::size_t k = 0; k < NP; ++k)
                sum[j][k] += row[j] * row[k];
        }
    }
    for (std::size_t j = 0; j < NP; ++j) {
        atb[j] = by[j];
        for (std::size_t k = 0; k <= j; ++k)
            ata[j * NP + k] = sum[j][k];
    }
}

// Least squares of the n x `columns` matrix `a` (by rows) against b, by the
// normal equations factored by Cholesky: the coefficients, and the residual's
// sum of squares taken from the residuals themselves; nullopt when the columns
// are not independent. Squaring the condition costs digits a start does not
// need, and the few columns of a start are far from dependent.
bool cholesky_solve(std::span<double> m, std::size_t np, std::span<double> b);

std::optional<double> normal_least_squares(std::span<const double> a, std::size_t columns,
                                           std::span<const double> b, std::vector<double>& x) {
    const std::size_t n = b.size();
    thread_local std::vector<double> ata;
    ata.assign(columns * columns, 0.0);
    x.assign(columns, 0.0);
    if (!with_fixed_count(columns, [&]<std::size_t NP>() {
            normal_sums_fixed<NP>(a.data(), b.data(), n, ata.data(), x.data());
        }))
        for (std::size_t i = 0; i < n; ++i) {
            const double* row = a.data() + i * columns;
            for (std::size_t j = 0; j < columns; ++j) {
                x[j] += row[j] * b[i];
                for (std::size_t k = 0; k <= j; ++k)
                    ata[j * columns + k] += row[j] * row[k];
            }
        }
    if (!cholesky_solve(ata, columns, x)) return std::nullopt;
    if (!std::all_of(x.begin(), x.end(), [](double v) { return std::isfinite(v); }))
        return std::nullopt;
    double rss = 0;
    for (std::size_t i = 0; i < n; ++i) {
        double r = b[i];
        for (std::size_t j = 0; j < columns; ++j)
            r -= a[i * columns + j] * x[j];
        rss += r * r;
    }
    return rss;
}

} // namespace

std::optional<std::vector<double>> linear_start(const Problem& pr, const ProfileModel& model,
                                                const LineShape& shape,
                                                std::span<const double> centres,
                                                const LineWidths& widths, int degree, double* rss) {
    const std::size_t n = pr.t.size();
    const std::size_t k_count = centres.size();
    const std::size_t columns = k_count + std::size_t(degree) + 1;
    if (n < columns) return std::nullopt;
    // Kept per thread, as every start of every trial asks; each element of
    // `a` is written below before it is read.
    thread_local std::vector<double> a, u;
    thread_local std::vector<ShapePoint> s;
    a.resize(n * columns);
    u.resize(n);
    s.resize(n);
    for (std::size_t k = 0; k < k_count; ++k) {
        for (std::size_t i = 0; i < n; ++i)
            u[i] = pr.t[i] - centres[k];
        shape_points(shape, u, widths, s);
        for (std::size_t i = 0; i < n; ++i)
            a[i * columns + k] = s[i].value;
    }
    for (std::size_t i = 0; i < n; ++i) {
        double power = 1;
        for (int j = 0; j <= degree; ++j, power *= pr.t[i] / pr.half)
            a[i * columns + k_count + std::size_t(j)] = power;
    }
    std::vector<double> c;
    const auto sum = normal_least_squares(a, columns, pr.y, c);
    if (!sum) return std::nullopt;
    if (rss) *rss = *sum;
    std::vector<double> p(std::size_t(model.parameter_count()));
    for (std::size_t k = 0; k < k_count; ++k) {
        p[k] = centres[k];
        p[k_count + k] = c[k];
    }
    for (int k = 0; k < (model.free_widths() ? model.components() : 1); ++k) {
        std::size_t at = model.width_at(k);
        if (uses_gauss_width(shape.profile)) p[at++] = widths.gauss;
        if (uses_lorentz_width(shape.profile)) p[at++] = widths.lorentz;
    }
    const std::size_t base = p.size() - std::size_t(degree) - 1;
    for (int j = 0; j <= degree; ++j)
        p[base + std::size_t(j)] = c[k_count + std::size_t(j)];
    return p;
}

namespace {

// At a minimum the residuals are orthogonal to every column of the Jacobian;
// checked here because a damping that has grown without bound also stops
// the solver with a small step. The cosine between the residuals and a column
// times sqrt(n - p) is about the distance of that parameter from its optimum
// in standard errors; 1 % of one is accepted.
bool at_minimum(std::span<const double> jac, std::span<const double> f, const Problem& pr) {
    const std::size_t n = f.size(), np = jac.size() / n;
    double norm_f = 0, norm_y = 0;
    for (double v : f)
        norm_f += v * v;
    norm_f = std::sqrt(norm_f);
    for (double v : pr.y)
        norm_y += v * v;
    // Residuals at rounding level: a noiseless line fitted exactly.
    if (norm_f <= 1e-9 * std::sqrt(norm_y)) return true;
    const double tolerance = 0.01 / std::sqrt(double(n - np));
    for (std::size_t c = 0; c < np; ++c) {
        double norm_c = 0, dot = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double v = jac[i * np + c];
            norm_c += v * v;
            dot += v * f[i];
        }
        norm_c = std::sqrt(norm_c);
        if (norm_c == 0) continue;
        if (std::abs(dot) > tolerance * norm_c * norm_f) return false;
    }
    return true;
}

// The unscaled covariance of the parameters from the Jacobian at them (n rows
// of p): GSL's, by QR with column pivoting, which tells a parameter the
// points do not determine from one they do.
void normal_matrix_of(const double* jac, std::size_t n, std::size_t np, std::vector<double>& ata);

// Below this pivot of the normal matrix scaled to a unit diagonal (the
// squared sine of a column's angle to the columns before it) the covariance
// is left to the pivoted QR, whose rank test the refusals rely on; above it
// the Cholesky factor loses no digit a printed error shows.
constexpr double CHOLESKY_PIVOT_MIN = 1e-6;
// With such pivots a column no shorter than this share of the longest leaves
// every diagonal element of R a hundred times above the QR's rank threshold
// (COVARIANCE_EPSREL of the longest).
constexpr double CHOLESKY_COLUMN_MIN = 1e-6;

// The covariance (J^T J)^-1 of a well-conditioned Jacobian by Cholesky of
// its scaled normal matrix: a third of the pivoted QR's work for the same
// digits; false when a pivot is below CHOLESKY_PIVOT_MIN.
bool cholesky_covariance(std::span<const double> jac, std::size_t np, Attempt& a) {
    const std::size_t n = jac.size() / np;
    thread_local std::vector<double> m, scale, inverse;
    normal_matrix_of(jac.data(), n, np, m);
    scale.resize(np);
    double largest = 0;
    for (std::size_t j = 0; j < np; ++j) {
        const double d = m[j * np + j];
        if (!(d > 0) || !std::isfinite(d)) return false;
        scale[j] = 1 / std::sqrt(d);
        largest = std::max(largest, std::sqrt(d));
    }
    // A column far shorter than the longest (a component of no amplitude) is
    // one the QR's rank test may drop, whatever its direction.
    for (std::size_t j = 0; j < np; ++j)
        if (!(1 / scale[j] >= CHOLESKY_COLUMN_MIN * largest)) return false;
    // L L^T of the scaled matrix, L into the lower triangle of m.
    for (std::size_t j = 0; j < np; ++j) {
        for (std::size_t k = 0; k <= j; ++k)
            m[j * np + k] *= scale[j] * scale[k];
        for (std::size_t k = 0; k < j; ++k) {
            double sum = m[j * np + k];
            for (std::size_t l = 0; l < k; ++l)
                sum -= m[j * np + l] * m[k * np + l];
            m[j * np + k] = sum / m[k * np + k];
        }
        double pivot = m[j * np + j];
        for (std::size_t l = 0; l < j; ++l)
            pivot -= m[j * np + l] * m[j * np + l];
        if (!(pivot >= CHOLESKY_PIVOT_MIN)) return false;
        m[j * np + j] = std::sqrt(pivot);
    }
    // L^-1, lower triangular, then (L L^T)^-1 = L^-T L^-1, unscaled.
    inverse.assign(np * np, 0.0);
    for (std::size_t j = 0; j < np; ++j) {
        inverse[j * np + j] = 1 / m[j * np + j];
        for (std::size_t i = j + 1; i < np; ++i) {
            double sum = 0;
            for (std::size_t l = j; l < i; ++l)
                sum -= m[i * np + l] * inverse[l * np + j];
            inverse[i * np + j] = sum / m[i * np + i];
        }
    }
    a.covariance.resize(np * np);
    for (std::size_t i = 0; i < np; ++i)
        for (std::size_t j = 0; j <= i; ++j) {
            double sum = 0;
            for (std::size_t l = i; l < np; ++l)
                sum += inverse[l * np + i] * inverse[l * np + j];
            const double c = sum * scale[i] * scale[j];
            if (!std::isfinite(c)) return false;
            a.covariance[i * np + j] = a.covariance[j * np + i] = c;
        }
    return true;
}

bool covariance_from(std::span<double> jac, std::size_t np, Attempt& a) {
    if (cholesky_covariance(jac, np, a)) return true;
    gsl_matrix_view j = gsl_matrix_view_array(jac.data(), jac.size() / np, np);
    GslPtr<gsl_matrix> covar(gsl_matrix_alloc(np, np));
    if (gsl_multifit_nlinear_covar(&j.matrix, COVARIANCE_EPSREL, covar.get()) != GSL_SUCCESS)
        return false;
    a.covariance.assign(covar->data, covar->data + np * np);
    return true;
}

bool covariance_at(const Problem& pr, const ProfileModel& model, Attempt& a) {
    const std::size_t n = pr.t.size(), np = a.p.size();
    std::vector<double> values(n), jac(n * np);
    model.evaluate(a.p, pr.t, values, jac);
    return covariance_from(jac, np, a);
}

// A Voigt width that the solver took (nearly) to zero: its place in the parameters.
std::optional<std::size_t> voigt_width_at_zero(const ProfileModel& model,
                                               std::span<const double> p) {
    // Lines with their own widths start from a fit with shared ones, whose
    // bound has been dealt with.
    if (model.width_count() != 2 || model.free_widths()) return std::nullopt;
    const auto at = std::size_t(2 * model.components());
    const double gauss = std::abs(p[at]), lorentz = std::abs(p[at + 1]);
    if (gauss <= VOIGT_ZERO * lorentz) return at;
    if (lorentz <= VOIGT_ZERO * gauss) return at + 1;
    return std::nullopt;
}

// Half the derivative of the sum of squares by parameter j at p.
double slope_of_rss(const Problem& pr, const ProfileModel& model, std::span<const double> p,
                    std::size_t j) {
    const std::size_t n = pr.t.size();
    std::vector<double> values(n), rows(n * p.size());
    model.evaluate(p, pr.t, values, rows);
    double slope = 0;
    for (std::size_t i = 0; i < n; ++i)
        slope += (values[i] - pr.y[i]) * rows[i * p.size() + j];
    return slope;
}

// Cholesky factorisation in place of the symmetric positive definite m (np x
// np, its lower triangle read), then the solution of m x = b into b; false
// when m is not positive definite.
// The Cholesky solve for a count `np` given at run time (NP = 0) or as a
// constant, each element reckoned in the same order either way.
template <std::size_t NP> bool cholesky_solve_as(double* m, std::size_t count, double* b) {
    const std::size_t np = NP > 0 ? NP : count;
    for (std::size_t j = 0; j < np; ++j) {
        double d = m[j * np + j];
        for (std::size_t k = 0; k < j; ++k)
            d -= m[j * np + k] * m[j * np + k];
        if (!(d > 0)) return false;
        d = std::sqrt(d);
        m[j * np + j] = d;
        for (std::size_t i = j + 1; i < np; ++i) {
            double v = m[i * np + j];
            for (std::size_t k = 0; k < j; ++k)
                v -= m[i * np + k] * m[j * np + k];
            m[i * np + j] = v / d;
        }
    }
    for (std::size_t i = 0; i < np; ++i) {
        double v = b[i];
        for (std::size_t k = 0; k < i; ++k)
            v -= m[i * np + k] * b[k];
        b[i] = v / m[i * np + i];
    }
    for (std::size_t i = np; i-- > 0;) {
        double v = b[i];
        for (std::size_t k = i + 1; k < np; ++k)
            v -= m[k * np + i] * b[k];
        b[i] = v / m[i * np + i];
    }
    return true;
}

bool cholesky_solve(std::span<double> m, std::size_t np, std::span<double> b) {
    bool solved = false;
    if (with_fixed_count(
            np, [&]<std::size_t NP>() { solved = cholesky_solve_as<NP>(m.data(), np, b.data()); }))
        return solved;
    return cholesky_solve_as<0>(m.data(), np, b.data());
}

enum class Outcome { Converged, NoProgress, NoProgressAtStart, TooManyIterations, AtBound };

// J^T f and J^T J, four rows at a time, each sum still taken row after
// row: the matrix is read once for four rows instead of each. Every step of
// every fit forms them: for the usual counts of parameters the count is a
// constant, the sums stay in registers, and wider vector units are used where
// the processor has them, each sum in the order of the general loop (the
// same bits).
template <std::size_t NP>
KORAX_CLONED void gradient_fixed(const double* jac, const double* f, std::size_t n, double* g) {
    double sum[NP] = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const double* r0 = jac + i * NP;
        const double *r1 = r0 + NP, *r2 = r1 + NP, *r3 = r2 + NP;
        for (std::size_t j = 0; j < NP; ++j)
            sum[j] = sum[j] + r0[j] * f[i] + r1[j] * f[i + 1] + r2[j] * f[i + 2] + r3[j] * f[i + 3];
    }
    for (; i < n; ++i) {
        const double* row = jac + i * NP;
        for (std::size_t j = 0; j < NP; ++j)
            sum[j] += row[j] * f[i];
    }
    std::copy_n(sum, NP, g);
}

void gradient_of(const std::vector<double>& jac, const std::vector<double>& f, std::size_t np,
                 std::vector<double>& g) {
    const std::size_t n = f.size();
    g.assign(np, 0.0);
    if (with_fixed_count(
            np, [&]<std::size_t NP>() { gradient_fixed<NP>(jac.data(), f.data(), n, g.data()); }))
        return;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const double* r0 = jac.data() + i * np;
        const double *r1 = r0 + np, *r2 = r1 + np, *r3 = r2 + np;
        for (std::size_t j = 0; j < np; ++j)
            g[j] = g[j] + r0[j] * f[i] + r1[j] * f[i + 1] + r2[j] * f[i + 2] + r3[j] * f[i + 3];
    }
    for (; i < n; ++i) {
        const double* row = jac.data() + i * np;
        for (std::size_t j = 0; j < np; ++j)
            g[j] += row[j] * f[i];
    }
}

// Only the lower triangle is written.
template <std::size_t NP>
KORAX_CLONED void normal_matrix_fixed(const double* jac, std::size_t n, double* ata) {
    double sum[NP][NP] = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const double* r0 = jac + i * NP;
        const double *r1 = r0 + NP, *r2 = r1 + NP, *r3 = r2 + NP;
        for (std::size_t j = 0; j < NP; ++j)
            for (std::size_t k = 0; k < NP; ++k)
                sum[j][k] =
                    sum[j][k] + r0[j] * r0[k] + r1[j] * r1[k] + r2[j] * r2[k] + r3[j] * r3[k];
    }
    for (; i < n; ++i) {
        const double* row = jac + i * NP;
        for (std::size_t j = 0; j < NP; ++j)
            for (std::size_t k = 0; k < NP; ++k)
                sum[j][k] += row[j] * row[k];
    }
    for (std::size_t j = 0; j < NP; ++j)
        for (std::size_t k = 0; k <= j; ++k)
            ata[j * NP + k] = sum[j][k];
}

void normal_matrix_of(const double* jac, std::size_t n, std::size_t np, std::vector<double>& ata) {
    ata.assign(np * np, 0.0);
    if (with_fixed_count(np,
                         [&]<std::size_t NP>() { normal_matrix_fixed<NP>(jac, n, ata.data()); }))
        return;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const double* r0 = jac + i * np;
        const double *r1 = r0 + np, *r2 = r1 + np, *r3 = r2 + np;
        for (std::size_t j = 0; j < np; ++j) {
            double* out = ata.data() + j * np;
            for (std::size_t k = 0; k <= j; ++k)
                out[k] = out[k] + r0[j] * r0[k] + r1[j] * r1[k] + r2[j] * r2[k] + r3[j] * r3[k];
        }
    }
    for (; i < n; ++i) {
        const double* row = jac + i * np;
        for (std::size_t j = 0; j < np; ++j) {
            double* out = ata.data() + j * np;
            for (std::size_t k = 0; k <= j; ++k)
                out[k] += row[j] * row[k];
        }
    }
}

// Where the solver stands: the parameters, the residuals and the Jacobian
// there, the normal matrix and the gradient.
struct State {
    std::vector<double> x, f, jac;
    double rss = 0;
    std::vector<double> ata, g; // J^T J (lower triangle) and J^T f
    void evaluate(const Problem& pr, const ProfileModel& model) {
        const std::size_t n = pr.t.size();
        f.resize(n);
        jac.resize(n * x.size());
        model.evaluate(x, pr.t, f, jac);
        rss = 0;
        for (std::size_t i = 0; i < n; ++i) {
            f[i] -= pr.y[i];
            rss += f[i] * f[i];
        }
    }
    // The gradient alone decides whether the solver stops; the matrix is
    // formed only for a step that follows.
    void gradient() { gradient_of(jac, f, x.size(), g); }
    void normal_matrix() { normal_matrix_of(jac.data(), f.size(), x.size(), ata); }
};

// A step is given up after this many rejected trials in a row.
constexpr int MAX_REJECTED = 15;
// A few ulps of a sum of squares of tens to hundreds of terms.
constexpr double ROUNDING = 1e-13;

// Levenberg-Marquardt with the damping scaled by the columns of the Jacobian
// (More: each column's largest norm so far) and Nielsen's update of the
// damping. The problems are small (a few to twenty parameters, tens to
// hundreds of points): the normal equations by Cholesky are the cheapest step,
// and the work is the model's evaluation. Stops when a step is far below the
// parameters, when the gradient vanishes, or once a step lowers the sum of
// squares by less than CHI_SQUARE_STEP residual variances with the residuals
// orthogonal to the Jacobian: the fit is then within a small fraction of a
// standard error of its minimum, and going on to rounding would cost step
// after rejected step near a noisy minimum.
Outcome levenberg_marquardt(const Problem& pr, const ProfileModel& model, State& s,
                            std::size_t max_iterations, int& iterations) {
    const std::size_t np = s.x.size(), n = pr.t.size();
    s.evaluate(pr, model);
    if (!std::isfinite(s.rss)) return Outcome::NoProgressAtStart;
    s.gradient();
    s.normal_matrix();
    // Kept per thread, as the solver is called for every trial of every
    // line: the trial point's buffers are every one written before it is read.
    thread_local std::vector<double> scale, m, step;
    thread_local State trial;
    scale.assign(np, 0.0);
    m.resize(np * np);
    step.resize(np);
    double mu = 1e-3, nu = 2;
    iterations = 0;
    while (std::size_t(iterations) < max_iterations) {
        for (std::size_t j = 0; j < np; ++j) {
            const double norm = std::sqrt(s.ata[j * np + j]);
            scale[j] = std::max(scale[j], norm > 0 ? norm : 1.0);
        }
        int rejected = 0;
        for (;;) {
            m = s.ata;
            for (std::size_t j = 0; j < np; ++j) {
                m[j * np + j] += mu * scale[j] * scale[j];
                step[j] = -s.g[j];
            }
            double rho = -1;
            bool predicted_at_most_rounding = false;
            if (cholesky_solve(m, np, step)) {
                trial.x = s.x;
                for (std::size_t j = 0; j < np; ++j)
                    trial.x[j] += step[j];
                trial.evaluate(pr, model);
                // What the linear model promised: -g.step + mu |D step|^2.
                double predicted = 0;
                for (std::size_t j = 0; j < np; ++j)
                    predicted += -s.g[j] * step[j] + mu * scale[j] * scale[j] * step[j] * step[j];
                if (std::isfinite(trial.rss) && predicted > 0)
                    rho = (s.rss - trial.rss) / predicted;
                predicted_at_most_rounding = predicted <= ROUNDING * s.rss;
            }
            if (rho > 0) {
                const double r = 2 * rho - 1;
                mu *= std::max(1.0 / 3, 1 - r * r * r);
                nu = 2;
                break;
            }
            mu *= nu;
            nu *= 2;
            // A step that promises less than the sum of squares can show in
            // its last digits only shrinks as the damping grows: what is
            // left is rounding, and waiting for the limit of rejections
            // only costs evaluations.
            if (predicted_at_most_rounding || ++rejected > MAX_REJECTED || !std::isfinite(mu))
                return iterations == 0 ? Outcome::NoProgressAtStart : Outcome::NoProgress;
        }
        ++iterations;
        const double before = s.rss;
        std::swap(s.x, trial.x);
        std::swap(s.f, trial.f);
        std::swap(s.jac, trial.jac);
        s.rss = trial.rss;
        // A Voigt width that has reached its bound only creeps on towards
        // zero, a little each step, against the kink there: the caller
        // solves the pure profile of the other width from here.
        if (voigt_width_at_zero(model, s.x)) return Outcome::AtBound;
        bool small_step = true;
        for (std::size_t j = 0; j < np; ++j)
            small_step = small_step && std::abs(step[j]) <= XTOL * (std::abs(s.x[j]) + XTOL);
        if (small_step) return Outcome::Converged;
        s.gradient();
        double gradient = 0;
        for (std::size_t j = 0; j < np; ++j)
            gradient = std::max(gradient, std::abs(s.g[j]) * std::max(std::abs(s.x[j]), 1.0));
        if (gradient <= GTOL * std::max(s.rss / 2, 1.0)) return Outcome::Converged;
        const double variance = s.rss / double(n - np);
        if (before - s.rss <= CHI_SQUARE_STEP * variance && at_minimum(s.jac, s.f, pr))
            return Outcome::Converged;
        s.normal_matrix();
    }
    return Outcome::TooManyIterations;
}

} // namespace

Attempt solve(const Problem& pr, const ProfileModel& model, std::vector<double> start,
              std::size_t max_iterations, int restarts) {
    quiet_gsl();
    Attempt a;
    a.components = model.components();
    a.free = model.free_widths();
    a.points = pr.t.size();
    const std::size_t n = pr.t.size(), np = start.size();
    if (n < np + 3) {
        a.refusal = FitRefusal::TooFewPoints;
        return a;
    }
    State s;
    s.x = std::move(start);
    int iterations = 0;
    const Outcome outcome = levenberg_marquardt(pr, model, s, max_iterations, iterations);
    a.iterations = iterations;
    a.p = s.x;
    a.rss = s.rss;
    const bool finite = std::isfinite(a.rss) && std::all_of(a.p.begin(), a.p.end(), [](double v) {
                            return std::isfinite(v);
                        });
    if (const auto zero = finite ? voigt_width_at_zero(model, a.p) : std::nullopt) {
        // The Voigt's minimum lies on the bound of that width, where the
        // absolute value has a kink that stalls the solver. On the bound the
        // profile is the pure one of the other width: solved as that, with
        // the covariance then taken from the whole Voigt model there.
        const LineShape pure{*zero == std::size_t(2 * a.components) ? LineProfile::Lorentz
                                                                    : LineProfile::Gauss,
                             model.shape().derivative};
        const ProfileModel reduced(pure, a.components, model.degree(), pr.half);
        std::vector<double> from = a.p;
        from.erase(from.begin() + std::ptrdiff_t(*zero));
        Attempt b = solve(pr, reduced, std::move(from), max_iterations);
        if (b.refusal) return b;
        b.p.insert(b.p.begin() + std::ptrdiff_t(*zero), 0.0);
        b.iterations += a.iterations;
        // The solver may have passed the bound on its way to a minimum inside:
        // if a little of that width lowers the sum of squares, start again
        // from there with some of it.
        if (restarts > 0 && slope_of_rss(pr, model, b.p, *zero) < 0) {
            const std::size_t other =
                *zero == std::size_t(2 * a.components) ? *zero + 1 : *zero - 1;
            std::vector<double> again = b.p;
            again[*zero] = 0.5 * std::abs(again[other]);
            Attempt c = solve(pr, model, std::move(again), max_iterations, restarts - 1);
            c.iterations += b.iterations;
            return c;
        }
        if (!covariance_at(pr, model, b)) b.refusal = FitRefusal::Singular;
        return b;
    }
    // No progress usually means the minimum was reached to rounding; the
    // orthogonality test tells the two apart.
    if ((outcome != Outcome::Converged && outcome != Outcome::NoProgress) || !finite ||
        !at_minimum(s.jac, s.f, pr)) {
        a.refusal = FitRefusal::NotConverged;
        return a;
    }
    if (!covariance_from(s.jac, np, a)) a.refusal = FitRefusal::Singular;
    return a;
}

std::optional<double> shape_gain(const FitContext& ctx, const Problem& pr, const Attempt& a,
                                 double enough) {
    if (a.free || a.refusal || ctx.shape.profile == LineProfile::Voigt) return std::nullopt;
    const std::size_t kc = std::size_t(a.components), n = pr.t.size();
    const LineShape shape{LineProfile::Voigt, ctx.shape.derivative};
    const ProfileModel voigt(shape, a.components, ctx.degree, pr.half);
    const std::size_t np = std::size_t(voigt.parameter_count());
    if (n < np + 3) return std::nullopt;
    const bool gauss_missing = ctx.shape.profile == LineProfile::Lorentz;
    const std::size_t missing = 2 * kc + (gauss_missing ? 0 : 1);
    const double kept = std::abs(a.p[gauss_missing ? missing : missing - 1]);
    std::vector<double> values(n), jac(n * np), r(n), step;
    // The rss one linearised step from p reaches, and the step.
    auto one_step = [&](const std::vector<double>& p) -> std::optional<double> {
        voigt.evaluate(p, pr.t, values, jac);
        for (std::size_t i = 0; i < n; ++i)
            r[i] = pr.y[i] - values[i];
        const auto left = normal_least_squares(jac, np, r, step);
        if (!left || !std::isfinite(*left)) return std::nullopt;
        return *left;
    };
    // The missing width at a sliver of the other: there the Voigt's slope by
    // it points where the profile would go, while the profile itself is still
    // the fitted one to parts in a thousand.
    constexpr double SLIVER = 0.03;
    std::vector<double> p = a.p;
    p.insert(p.begin() + std::ptrdiff_t(missing), SLIVER * kept);
    double gain = 0;
    if (const auto left = one_step(p); !left)
        return std::nullopt;
    else if (step[missing] > 0)
        gain = a.rss - *left;
    // In the residual variance the gain would leave.
    const auto significance = [&] {
        return gain / std::max((a.rss - gain) / double(n - np), 1e-300);
    };
    if (significance() >= enough) return gain;
    // Far from the bound the profile is far from linear in that width (the
    // step from the sliver alone found 0.3 of what a Gaussian line under a
    // Lorentzian profile gains): steps from Voigts of the same lobe width
    // with both widths in play as well.
    const double lobe = lobe_width(
        ctx.shape, ProfileModel(ctx.shape, a.components, ctx.degree, pr.half).widths(a.p));
    for (double ratio : {0.5, 2.0, 8.0}) {
        const LineWidths unit{gauss_missing ? ratio : 1.0, gauss_missing ? 1.0 : ratio};
        const double factor = lobe / lobe_width(shape, unit);
        std::vector<double> q = p;
        q[2 * kc] = unit.gauss * factor;
        q[2 * kc + 1] = unit.lorentz * factor;
        if (const auto left = one_step(q)) gain = std::max(gain, a.rss - *left);
        if (significance() >= enough) break;
    }
    return std::max(0.0, gain);
}

// ---- checks and results ------------------------------------------------------------

ProfileModel model_of(const FitContext& ctx, const Problem& pr, const Attempt& a) {
    return ProfileModel(ctx.shape, a.components, ctx.degree, pr.half, a.free);
}

double lobe_of(const FitContext& ctx, const ProfileModel& model, const Attempt& a) {
    if (!model.free_widths()) return lobe_width(ctx.shape, model.widths(a.p));
    double sum = 0;
    for (int k = 0; k < model.components(); ++k)
        sum += lobe_width(ctx.shape, model.widths(a.p, k));
    return sum / model.components();
}

std::optional<FitRefusal> check(const FitContext& ctx, const Problem& pr, const Attempt& a) {
    if (a.refusal) return a.refusal;
    const ProfileModel model = model_of(ctx, pr, a);
    const double t_low = pr.t.front(), t_high = pr.t.back();
    for (int k = 0; k < a.components; ++k)
        if (a.p[std::size_t(k)] < t_low || a.p[std::size_t(k)] > t_high)
            return FitRefusal::CentreOutsideWindow;
    for (int k = 0; k < (model.free_widths() ? a.components : 1); ++k) {
        const double lobe = lobe_width(ctx.shape, model.widths(a.p, k));
        if (!(lobe >= 1 && lobe <= t_high - t_low)) return FitRefusal::LeftWindow;
    }
    const std::size_t np = a.p.size();
    for (int k = 0; k < 2 * a.components; ++k) {
        const double v = a.covariance[std::size_t(k) * np + std::size_t(k)];
        if (!(v > 0) || !std::isfinite(v)) return FitRefusal::Singular;
    }
    return std::nullopt;
}

Height height_of(const FitContext& ctx, const ProfileModel& model, const Attempt& a, int k) {
    const LineWidths w = model.widths(a.p, k);
    const ShapePoint s = shape_point(ctx.shape, height_offset(ctx.shape, w), w);
    const std::size_t np = a.p.size(), kc = std::size_t(a.components);
    const double amplitude = a.p[kc + std::size_t(k)];
    // The height is the amplitude times the shape at the lobe's extreme; where
    // the extreme moves with the widths, its first-order change is zero there.
    std::vector<double> grad(np, 0.0);
    grad[kc + std::size_t(k)] = s.value;
    std::size_t at = model.width_at(k);
    if (uses_gauss_width(ctx.shape.profile))
        grad[at] = amplitude * s.d_gauss * (a.p[at] < 0 ? -1 : 1), ++at;
    if (uses_lorentz_width(ctx.shape.profile))
        grad[at] = amplitude * s.d_lorentz * (a.p[at] < 0 ? -1 : 1);
    double variance = 0;
    for (std::size_t r = 0; r < np; ++r)
        for (std::size_t c = 0; c < np; ++c)
            variance += grad[r] * a.covariance[r * np + c] * grad[c];
    return {amplitude * s.value, variance};
}

namespace {

// The flags' thresholds, set on synthetic series and spectra with known
// centres: a wrong line was either flagged by one of these or off the trend
// of its series, and no correct line of a signal to noise of 10 or more was.
constexpr double LOW_ERROR_PER_WIDTH = 0.25;
constexpr double LOW_SIGNAL_TO_NOISE = 5;
constexpr double BLEND_WIDTHS = 1.5;
constexpr double SHAPE_CHI_SQUARE = 4;

void set_flags(ProfileFit& fit, const Problem& pr, const Verdicts& verdicts) {
    const double lobe = fit.lobe_width;
    for (FittedComponent& c : fit.components) {
        LineFlags& f = c.flags;
        const double t = (c.centre - pr.origin) / pr.step;
        f.saturated = std::any_of(pr.clipped.begin(), pr.clipped.end(), [&](double u) {
            return std::abs(u - t) * pr.step <= c.lobe_width;
        });
        f.edge = pr.cut;
        for (const FittedComponent& o : fit.components)
            if (&o != &c &&
                std::abs(o.centre - c.centre) < BLEND_WIDTHS * std::max(lobe, c.lobe_width))
                f.blend = true;
        if (verdicts.unresolved && fit.components.size() == 1) f.blend = true;
        // A blend the shape set free nearly explains is perhaps one line of
        // another shape.
        if (verdicts.contested && f.blend) f.shape = true;
        f.shape = verdicts.shape || !(fit.reduced_chi_square <= SHAPE_CHI_SQUARE);
        f.low = !(c.centre_error <= LOW_ERROR_PER_WIDTH * c.lobe_width) ||
                (fit.noise > 0 && std::abs(c.height) < LOW_SIGNAL_TO_NOISE * fit.noise);
    }
}

} // namespace

ProfileFit result_of(const FitContext& ctx, const Problem& pr, const Attempt& a,
                     std::span<const double> x, const Verdicts& verdicts) {
    const ProfileModel model = model_of(ctx, pr, a);
    const std::size_t np = a.p.size(), kc = std::size_t(a.components);
    // The errors scale the covariance by the residual variance as it is (no
    // floor: a noiseless line has errors at rounding).
    const double s2 = a.rss / double(a.points - a.p.size());
    auto error = [&](std::size_t j) {
        const double v = a.covariance[j * np + j];
        return v > 0 ? std::sqrt(v * s2) : std::numeric_limits<double>::infinity();
    };
    const double inf = std::numeric_limits<double>::infinity();
    // Line k's widths with their errors, in frequency; 0 error for a width
    // the profile does not have.
    auto widths_of = [&](int k, LineWidths& widths, LineWidths& errors) {
        const LineWidths w = model.widths(a.p, k);
        std::size_t at = model.width_at(k);
        widths = {};
        errors = {0, 0};
        if (uses_gauss_width(ctx.shape.profile)) {
            widths.gauss = pr.step * w.gauss;
            errors.gauss = pr.step * error(at++);
        }
        if (uses_lorentz_width(ctx.shape.profile)) {
            widths.lorentz = pr.step * w.lorentz;
            errors.lorentz = pr.step * error(at++);
        }
        return pr.step * lobe_width(ctx.shape, w);
    };
    ProfileFit fit;
    fit.shape = ctx.shape;
    fit.baseline_degree = ctx.degree;
    fit.window = pr.window;
    fit.low = x[std::size_t(pr.window.first)];
    fit.high = x[std::size_t(pr.window.last)];
    fit.free_widths = model.free_widths();
    std::size_t strongest = 0;
    for (std::size_t k = 0; k < kc; ++k) {
        const Height h = height_of(ctx, model, a, int(k));
        FittedComponent c;
        c.centre = pr.origin + pr.step * a.p[k];
        c.centre_error = pr.step * error(k);
        c.height = pr.y_scale * h.value;
        c.height_error = pr.y_scale * std::sqrt(std::max(0.0, h.variance * s2));
        c.amplitude = pr.y_scale * a.p[kc + k];
        c.lobe_width = widths_of(int(k), c.widths, c.width_errors);
        if (std::abs(a.p[kc + k]) > std::abs(a.p[kc + strongest])) strongest = k;
        fit.components.push_back(c);
    }
    fit.lobe_width = widths_of(int(strongest), fit.widths, fit.width_errors);
    // Where the lines of a blend may be one line of another shape, each
    // centre is known no better than that one line's place between them.
    if (verdicts.contested)
        for (FittedComponent& c : fit.components)
            for (const FittedComponent& o : fit.components)
                if (&o != &c && std::abs(o.centre - c.centre) <
                                    BLEND_WIDTHS * std::max(fit.lobe_width, c.lobe_width))
                    c.centre_error = std::max(c.centre_error, std::abs(o.centre - c.centre) / 2);
    std::sort(
        fit.components.begin(), fit.components.end(),
        [](const FittedComponent& l, const FittedComponent& r) { return l.centre < r.centre; });
    fit.baseline_centre = pr.origin;
    fit.baseline_half = pr.step * pr.half;
    const std::size_t base = np - std::size_t(ctx.degree) - 1;
    for (int j = 0; j <= ctx.degree; ++j)
        fit.baseline_coefficients[std::size_t(j)] = pr.y_scale * a.p[base + std::size_t(j)];
    fit.baseline_coefficients[0] += pr.y_origin;
    fit.noise = pr.noise * pr.y_scale;
    fit.residual_rms = pr.y_scale * std::sqrt(a.rss / double(a.points));
    if (pr.noise > 0)
        fit.reduced_chi_square = s2 / (pr.noise * pr.noise);
    else
        fit.reduced_chi_square = s2 > 0 ? inf : 0;
    fit.iterations = a.iterations;
    fit.clipped_points = int(pr.clipped.size());
    set_flags(fit, pr, verdicts);
    return fit;
}

} // namespace korax::profile_detail

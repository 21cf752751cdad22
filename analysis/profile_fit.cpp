// The profile fit: the model of lines plus baseline, its start from the data,
// the solver (GSL's trust-region nonlinear least squares with the analytic
// Jacobian), the checks that refuse a fit, and the search for further
// components of a blend.
#include "analysis/profile_fit.h"

#include "analysis/peak_search.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_multifit_nlinear.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <memory>

namespace korax {

std::string_view refusal_text(FitRefusal refusal) {
    switch (refusal) {
    case FitRefusal::TooFewPoints:
        return "too few points in the window";
    case FitRefusal::NoLine:
        return "no line at the cursor";
    case FitRefusal::NotConverged:
        return "fit did not converge";
    case FitRefusal::LeftWindow:
        return "fit left its window";
    case FitRefusal::CentreOutsideWindow:
        return "centre outside the window";
    case FitRefusal::Singular:
        return "fit is singular";
    }
    return "";
}

double ProfileFit::baseline(double x) const {
    const double tau = (x - baseline_centre) / baseline_half;
    double sum = 0, power = 1;
    for (int j = 0; j <= baseline_degree; ++j, power *= tau)
        sum += baseline_coefficients[std::size_t(j)] * power;
    return sum;
}

double ProfileFit::curve(double x) const {
    double sum = baseline(x);
    for (const auto& c : components)
        sum += c.amplitude * shape_value(shape, x - c.centre, widths);
    return sum;
}

// ---- the model --------------------------------------------------------------------

ProfileModel::ProfileModel(LineShape shape, int components, int baseline_degree, double half)
    : m_shape(shape), m_components(components), m_degree(baseline_degree), m_half(half) {
    assert(components >= 1 && components <= MAX_COMPONENTS);
    assert(baseline_degree >= 0 && baseline_degree <= 2);
    assert(half > 0);
}

int ProfileModel::width_count() const {
    return int(uses_gauss_width(m_shape.profile)) + int(uses_lorentz_width(m_shape.profile));
}

int ProfileModel::parameter_count() const {
    return 2 * m_components + width_count() + m_degree + 1;
}

namespace {
// Widths are taken by absolute value, so the solver may step through zero; a
// width of exactly zero would leave no profile.
constexpr double SMALLEST_WIDTH = 1e-9;
} // namespace

LineWidths ProfileModel::widths(std::span<const double> p) const {
    const auto at = std::size_t(2 * m_components);
    LineWidths w;
    switch (m_shape.profile) {
    case LineProfile::Gauss:
        w.gauss = std::max(std::abs(p[at]), SMALLEST_WIDTH);
        break;
    case LineProfile::Lorentz:
        w.lorentz = std::max(std::abs(p[at]), SMALLEST_WIDTH);
        break;
    case LineProfile::Voigt:
        w.gauss = std::abs(p[at]);
        w.lorentz = std::abs(p[at + 1]);
        if (w.gauss + w.lorentz < SMALLEST_WIDTH) w.gauss = SMALLEST_WIDTH;
        break;
    }
    return w;
}

double ProfileModel::value(std::span<const double> p, double t, std::span<double> gradient) const {
    double v = 0;
    evaluate(p, std::span(&t, 1), std::span(&v, 1), gradient);
    return v;
}

void ProfileModel::evaluate(std::span<const double> p, std::span<const double> t,
                            std::span<double> values, std::span<double> jacobian) const {
    assert(p.size() == std::size_t(parameter_count()));
    assert(values.size() >= t.size());
    const std::size_t n = t.size(), np = p.size();
    const bool want = !jacobian.empty();
    assert(!want || jacobian.size() >= n * np);
    const auto k_count = std::size_t(m_components);
    const LineWidths w = widths(p);
    const auto at = 2 * k_count;
    const bool gauss = uses_gauss_width(m_shape.profile);
    const bool lorentz = uses_lorentz_width(m_shape.profile);
    const auto gauss_at = at, lorentz_at = gauss ? at + 1 : at;
    const double gauss_sign = gauss && p[gauss_at] < 0 ? -1 : 1;
    const double lorentz_sign = lorentz && p[lorentz_at] < 0 ? -1 : 1;
    std::fill_n(values.begin(), n, 0.0);
    if (want) std::fill_n(jacobian.begin(), n * np, 0.0);

    std::vector<double> u(n);
    std::vector<ShapePoint> s(n);
    for (std::size_t k = 0; k < k_count; ++k) {
        const double amplitude = p[k_count + k];
        for (std::size_t i = 0; i < n; ++i)
            u[i] = t[i] - p[k];
        shape_points(m_shape, u, w, s);
        for (std::size_t i = 0; i < n; ++i) {
            values[i] += amplitude * s[i].value;
            if (!want) continue;
            double* gradient = jacobian.data() + i * np;
            gradient[k] = amplitude * s[i].d_centre;
            gradient[k_count + k] = s[i].value;
            if (gauss) gradient[gauss_at] += amplitude * s[i].d_gauss * gauss_sign;
            if (lorentz) gradient[lorentz_at] += amplitude * s[i].d_lorentz * lorentz_sign;
        }
    }
    const auto base = at + std::size_t(width_count());
    for (std::size_t i = 0; i < n; ++i) {
        const double tau = t[i] / m_half;
        double power = 1;
        for (int j = 0; j <= m_degree; ++j, power *= tau) {
            values[i] += p[base + std::size_t(j)] * power;
            if (want) jacobian[i * np + base + std::size_t(j)] = power;
        }
    }
}

namespace {

// ---- the window in the fit's own units ----------------------------------------------

// Offsets in points from the window's middle keep the parameters of one size
// whatever the frequencies, and intensities scaled by the line's height keep
// the amplitudes near 1.
struct Problem {
    std::vector<double> t, y;
    double origin = 0, step = 1;      // x = origin + step * t
    double y_origin = 0, y_scale = 1; // intensity = y_origin + y_scale * y
    double half = 1;                  // of the window, in points
    double noise = 0;                 // scaled
    PointRange window;
};

template <class T>
Problem make_problem(std::span<const double> x, std::span<const T> y, PointRange window,
                     const LineEstimate& line) {
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
        p.t.push_back((x[std::size_t(i)] - p.origin) / p.step);
        p.y.push_back((double(y[std::size_t(i)]) - p.y_origin) / p.y_scale);
    }
    return p;
}

// ---- the solver ---------------------------------------------------------------------

constexpr std::size_t MAX_ITERATIONS = 200;
// A trial component that has not settled after this many is not worth more: a
// split of a single line drifts on a flat valley where both halves merge.
constexpr std::size_t TRIAL_ITERATIONS = 40;
// Relative step and gradient at which the solver stops; 1e-10 of a point puts
// a noiseless line on its centre far below the 1e-6 of a step asked of it.
constexpr double XTOL = 1e-10, GTOL = 1e-10, FTOL = 0;
// A step that lowers the sum of squares by less than this many residual
// variances leaves the fit about sqrt(CHI_SQUARE_STEP) standard errors from
// its minimum, far inside what the points determine.
constexpr double CHI_SQUARE_STEP = 1e-6;
// A column of the Jacobian this much smaller than the largest (after QR) is
// taken as dependent: its parameter is not determined by the points.
constexpr double COVARIANCE_EPSREL = 1e-11;
// A Voigt width below this fraction of the other one has gone to its bound.
constexpr double VOIGT_ZERO = 1e-3;

// The solver asks for the Jacobian at the point whose residuals it took last
// (a step it accepted), and the profile gives its value and its slopes in one
// evaluation: the residuals keep the slopes for the Jacobian that follows.
struct Glue {
    const Problem* problem;
    const ProfileModel* model;
    std::vector<double> rows; // the Jacobian at `at`, row by row
    std::vector<double> at;
};

int residuals(const gsl_vector* x, void* data, gsl_vector* f) {
    auto& g = *static_cast<Glue*>(data);
    const std::size_t n = g.problem->t.size(), np = x->size;
    assert(x->stride == 1 && f->stride == 1);
    const std::span<const double> p(x->data, np);
    g.rows.resize(n * np);
    g.model->evaluate(p, g.problem->t, std::span(f->data, n), g.rows);
    for (std::size_t i = 0; i < n; ++i)
        f->data[i] -= g.problem->y[i];
    g.at.assign(p.begin(), p.end());
    return GSL_SUCCESS;
}

int jacobian(const gsl_vector* x, void* data, gsl_matrix* j) {
    auto& g = *static_cast<Glue*>(data);
    const std::size_t n = g.problem->t.size(), np = x->size;
    assert(x->stride == 1 && j->tda == np);
    const std::span<const double> p(x->data, np);
    // Rows of a GSL matrix are contiguous, and these are not padded.
    if (g.at.size() == np && std::equal(p.begin(), p.end(), g.at.begin())) {
        std::copy_n(g.rows.data(), n * np, j->data);
        return GSL_SUCCESS;
    }
    std::vector<double> values(n);
    g.model->evaluate(p, g.problem->t, values, std::span(j->data, n * np));
    return GSL_SUCCESS;
}

struct GslDelete {
    void operator()(gsl_multifit_nlinear_workspace* w) const { gsl_multifit_nlinear_free(w); }
    void operator()(gsl_matrix* m) const { gsl_matrix_free(m); }
    void operator()(gsl_vector* v) const { gsl_vector_free(v); }
};
template <class T> using GslPtr = std::unique_ptr<T, GslDelete>;

// One fit from one start.
struct Attempt {
    int components = 0;
    std::vector<double> p;
    std::vector<double> covariance; // unscaled, p x p
    double rss = 0;
    int iterations = 0;
    std::optional<FitRefusal> refusal;
    double variance() const; // of the residuals, per degree of freedom
    std::size_t points = 0;
};

// Floored at rounding (the intensities are scaled to the line's height): on
// noiseless data an improvement in the last bits must not count as a line.
double Attempt::variance() const {
    return std::max(rss / double(points - p.size()), 1e-18);
}

void quiet_gsl() {
    // GSL's default answer to an error is to abort the program; here every
    // status is looked at where it is returned.
    static const bool done = [] {
        gsl_set_error_handler_off();
        return true;
    }();
    (void)done;
}

// Least squares by Householder QR of `a` (overwritten): the coefficients into
// `x`, and the residual's sum of squares; nullopt when a coefficient is not
// finite, as when two columns are not independent.
std::optional<double> qr_least_squares(gsl_matrix* a, const gsl_vector* b, gsl_vector* x) {
    GslPtr<gsl_vector> tau(gsl_vector_alloc(a->size2)), r(gsl_vector_alloc(a->size1));
    if (gsl_linalg_QR_decomp(a, tau.get()) != GSL_SUCCESS ||
        gsl_linalg_QR_lssolve(a, tau.get(), b, x, r.get()) != GSL_SUCCESS)
        return std::nullopt;
    for (std::size_t k = 0; k < x->size; ++k)
        if (!std::isfinite(gsl_vector_get(x, k))) return std::nullopt;
    const double norm = gsl_blas_dnrm2(r.get());
    return norm * norm;
}

// Least squares of the n x `columns` matrix `a` (by rows) against b, by the
// normal equations factored by Cholesky: the coefficients, and the residual's
// sum of squares taken from the residuals themselves; nullopt when the columns
// are not independent. Squaring the condition costs digits a start does not
// need, and the few columns of a start are far from dependent.
std::optional<double> normal_least_squares(std::span<const double> a, std::size_t columns,
                                           std::span<const double> b, std::vector<double>& x) {
    const std::size_t n = b.size();
    GslPtr<gsl_matrix> ata(gsl_matrix_calloc(columns, columns));
    GslPtr<gsl_vector> atb(gsl_vector_calloc(columns)), c(gsl_vector_alloc(columns));
    for (std::size_t i = 0; i < n; ++i) {
        const double* row = a.data() + i * columns;
        for (std::size_t j = 0; j < columns; ++j) {
            atb->data[j] += row[j] * b[i];
            for (std::size_t k = 0; k <= j; ++k)
                ata->data[j * ata->tda + k] += row[j] * row[k];
        }
    }
    if (gsl_linalg_cholesky_decomp1(ata.get()) != GSL_SUCCESS ||
        gsl_linalg_cholesky_solve(ata.get(), atb.get(), c.get()) != GSL_SUCCESS)
        return std::nullopt;
    x.assign(c->data, c->data + columns);
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

// The amplitudes and the baseline that fit best for given centres and widths:
// a linear problem, so the solver starts next to its answer. Its sum of
// squares into `rss` when asked.
std::optional<std::vector<double>> linear_start(const Problem& pr, const ProfileModel& model,
                                                const LineShape& shape,
                                                std::span<const double> centres,
                                                const LineWidths& widths, int degree,
                                                double* rss = nullptr) {
    const std::size_t n = pr.t.size();
    const std::size_t k_count = centres.size();
    const std::size_t columns = k_count + std::size_t(degree) + 1;
    if (n < columns) return std::nullopt;
    std::vector<double> a(n * columns), u(n);
    std::vector<ShapePoint> s(n);
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
    std::size_t at = 2 * k_count;
    if (uses_gauss_width(shape.profile)) p[at++] = widths.gauss;
    if (uses_lorentz_width(shape.profile)) p[at++] = widths.lorentz;
    for (int j = 0; j <= degree; ++j)
        p[at + std::size_t(j)] = c[k_count + std::size_t(j)];
    return p;
}

// At a minimum the residuals are orthogonal to every column of the Jacobian;
// checked here because a trust region that has shrunk to nothing also stops
// the solver with a small step. The cosine between the residuals and a column
// times sqrt(n - p) is about the distance of that parameter from its optimum
// in standard errors; 1 % of one is accepted.
bool at_minimum(const gsl_matrix* j, const gsl_vector* f, const Problem& pr) {
    const double norm_f = gsl_blas_dnrm2(f);
    double norm_y = 0;
    for (double v : pr.y)
        norm_y += v * v;
    // Residuals at rounding level: a noiseless line fitted exactly.
    if (norm_f <= 1e-9 * std::sqrt(norm_y)) return true;
    const double tolerance = 0.01 / std::sqrt(double(j->size1 - j->size2));
    for (std::size_t c = 0; c < j->size2; ++c) {
        gsl_vector_const_view column = gsl_matrix_const_column(j, c);
        const double norm_c = gsl_blas_dnrm2(&column.vector);
        if (norm_c == 0) continue;
        double dot = 0;
        gsl_blas_ddot(&column.vector, f, &dot);
        if (std::abs(dot) > tolerance * norm_c * norm_f) return false;
    }
    return true;
}

// The unscaled covariance of the parameters at a.p, from the model's Jacobian there.
bool covariance_at(const Problem& pr, const ProfileModel& model, Attempt& a) {
    const std::size_t n = pr.t.size(), np = a.p.size();
    GslPtr<gsl_matrix> j(gsl_matrix_alloc(n, np));
    Glue glue{&pr, &model, {}, {}};
    gsl_vector_view x = gsl_vector_view_array(a.p.data(), np);
    jacobian(&x.vector, &glue, j.get());
    GslPtr<gsl_matrix> covar(gsl_matrix_alloc(np, np));
    if (gsl_multifit_nlinear_covar(j.get(), COVARIANCE_EPSREL, covar.get()) != GSL_SUCCESS)
        return false;
    a.covariance.assign(covar->data, covar->data + np * np);
    return true;
}

// A Voigt width that the solver took (nearly) to zero: its place in the parameters.
std::optional<std::size_t> voigt_width_at_zero(const ProfileModel& model,
                                               std::span<const double> p) {
    if (model.width_count() != 2) return std::nullopt;
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

double sum_of_squares(const gsl_vector* f) {
    double sum = 0;
    for (std::size_t i = 0; i < f->size; ++i)
        sum += f->data[i * f->stride] * f->data[i * f->stride];
    return sum;
}

// GSL's own driver, with one more way to stop: once a step lowers the sum of
// squares by less than CHI_SQUARE_STEP residual variances and the residuals
// are orthogonal to the Jacobian, the fit is within a small fraction of a
// standard error of its minimum. Without it the solver goes on until its
// steps reach rounding, and near a noisy minimum it gets there by rejecting
// step after step, each costing a model evaluation and a factorisation.
int iterate(const Problem& pr, gsl_multifit_nlinear_workspace* w, std::size_t max_iterations,
            int& info) {
    const std::size_t n = w->f->size, np = w->x->size;
    double before = sum_of_squares(w->f);
    std::size_t iteration = 0;
    int status = GSL_CONTINUE;
    do {
        status = gsl_multifit_nlinear_iterate(w);
        // No step that lowers the sum at all from the start: more will not help.
        if (status == GSL_ENOPROG && iteration == 0) {
            info = status;
            return GSL_EMAXITER;
        }
        ++iteration;
        status = gsl_multifit_nlinear_test(XTOL, GTOL, FTOL, &info, w);
        if (status != GSL_CONTINUE) break;
        const double after = sum_of_squares(w->f);
        const double variance = after / double(n - np);
        if (before - after <= CHI_SQUARE_STEP * variance && at_minimum(w->J, w->f, pr)) {
            status = GSL_SUCCESS;
            break;
        }
        before = after;
    } while (iteration < max_iterations);
    // Converged to within rounding.
    if (status == GSL_ETOLF || status == GSL_ETOLX || status == GSL_ETOLG) {
        info = status;
        return GSL_SUCCESS;
    }
    return status == GSL_CONTINUE ? GSL_EMAXITER : status;
}

Attempt solve(const Problem& pr, const ProfileModel& model, std::vector<double> start,
              std::size_t max_iterations = MAX_ITERATIONS, int restarts = 2) {
    quiet_gsl();
    Attempt a;
    a.components = model.components();
    a.points = pr.t.size();
    const std::size_t n = pr.t.size(), np = start.size();
    if (n < np + 3) {
        a.refusal = FitRefusal::TooFewPoints;
        return a;
    }
    // Levenberg-Marquardt in a trust region, steps scaled by the columns of
    // the Jacobian (More): GSL's defaults, but each step solved by Cholesky
    // on the normal equations, the fastest of its solvers for a few parameters.
    gsl_multifit_nlinear_parameters params = gsl_multifit_nlinear_default_parameters();
    params.solver = gsl_multifit_nlinear_solver_cholesky;
    GslPtr<gsl_multifit_nlinear_workspace> w(
        gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &params, n, np));
    Glue glue{&pr, &model, {}, {}};
    gsl_multifit_nlinear_fdf fdf{};
    fdf.f = residuals;
    fdf.df = jacobian;
    fdf.fvv = nullptr;
    fdf.n = n;
    fdf.p = np;
    fdf.params = &glue;
    gsl_vector_view x0 = gsl_vector_view_array(start.data(), np);
    int info = 0;
    int status = gsl_multifit_nlinear_init(&x0.vector, &fdf, w.get());
    if (status == GSL_SUCCESS) status = iterate(pr, w.get(), max_iterations, info);
    a.iterations = int(gsl_multifit_nlinear_niter(w.get()));
    const gsl_vector* x = gsl_multifit_nlinear_position(w.get());
    const gsl_vector* f = gsl_multifit_nlinear_residual(w.get());
    gsl_matrix* j = gsl_multifit_nlinear_jac(w.get());
    a.p.assign(x->data, x->data + np);
    a.rss = 0;
    for (std::size_t i = 0; i < n; ++i)
        a.rss += gsl_vector_get(f, i) * gsl_vector_get(f, i);
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
    if ((status != GSL_SUCCESS && status != GSL_ENOPROG) || !finite || !at_minimum(j, f, pr)) {
        a.refusal = FitRefusal::NotConverged;
        return a;
    }
    if (!covariance_at(pr, model, a)) a.refusal = FitRefusal::Singular;
    return a;
}

// ---- checks and results ------------------------------------------------------------

struct FitContext {
    LineShape shape;
    int degree = 1;
};

double lobe_of(const FitContext& ctx, const ProfileModel& model, const Attempt& a) {
    return lobe_width(ctx.shape, model.widths(a.p));
}

// Why the attempt is refused, if it is.
std::optional<FitRefusal> check(const FitContext& ctx, const Problem& pr, const Attempt& a) {
    if (a.refusal) return a.refusal;
    const ProfileModel model(ctx.shape, a.components, ctx.degree, pr.half);
    const double t_low = pr.t.front(), t_high = pr.t.back();
    for (int k = 0; k < a.components; ++k)
        if (a.p[std::size_t(k)] < t_low || a.p[std::size_t(k)] > t_high)
            return FitRefusal::CentreOutsideWindow;
    const double lobe = lobe_of(ctx, model, a);
    if (!(lobe >= 1 && lobe <= t_high - t_low)) return FitRefusal::LeftWindow;
    const std::size_t np = a.p.size();
    for (int k = 0; k < 2 * a.components; ++k) {
        const double v = a.covariance[std::size_t(k) * np + std::size_t(k)];
        if (!(v > 0) || !std::isfinite(v)) return FitRefusal::Singular;
    }
    return std::nullopt;
}

// The heights of the components and their variances (unscaled covariance).
struct Height {
    double value = 0, variance = 0;
};

Height height_of(const FitContext& ctx, const ProfileModel& model, const Attempt& a, int k) {
    const LineWidths w = model.widths(a.p);
    const ShapePoint s = shape_point(ctx.shape, height_offset(ctx.shape, w), w);
    const std::size_t np = a.p.size(), kc = std::size_t(a.components);
    const double amplitude = a.p[kc + std::size_t(k)];
    // The height is the amplitude times the shape at the lobe's extreme; where
    // the extreme moves with the widths, its first-order change is zero there.
    std::vector<double> grad(np, 0.0);
    grad[kc + std::size_t(k)] = s.value;
    std::size_t at = 2 * kc;
    if (uses_gauss_width(ctx.shape.profile))
        grad[at++] = amplitude * s.d_gauss * (a.p[2 * kc] < 0 ? -1 : 1);
    if (uses_lorentz_width(ctx.shape.profile))
        grad[at] = amplitude * s.d_lorentz * (a.p[at] < 0 ? -1 : 1);
    double variance = 0;
    for (std::size_t r = 0; r < np; ++r)
        for (std::size_t c = 0; c < np; ++c)
            variance += grad[r] * a.covariance[r * np + c] * grad[c];
    return {amplitude * s.value, variance};
}

ProfileFit result_of(const FitContext& ctx, const Problem& pr, const Attempt& a,
                     std::span<const double> x) {
    const ProfileModel model(ctx.shape, a.components, ctx.degree, pr.half);
    const std::size_t np = a.p.size(), kc = std::size_t(a.components);
    // The errors scale the covariance by the residual variance as it is (no
    // floor: a noiseless line has errors at rounding).
    const double s2 = a.rss / double(a.points - a.p.size());
    auto error = [&](std::size_t j) {
        const double v = a.covariance[j * np + j];
        return v > 0 ? std::sqrt(v * s2) : std::numeric_limits<double>::infinity();
    };
    ProfileFit fit;
    fit.shape = ctx.shape;
    fit.baseline_degree = ctx.degree;
    fit.window = pr.window;
    fit.low = x[std::size_t(pr.window.first)];
    fit.high = x[std::size_t(pr.window.last)];
    for (std::size_t k = 0; k < kc; ++k) {
        const Height h = height_of(ctx, model, a, int(k));
        FittedComponent c;
        c.centre = pr.origin + pr.step * a.p[k];
        c.centre_error = pr.step * error(k);
        c.height = pr.y_scale * h.value;
        c.height_error = pr.y_scale * std::sqrt(std::max(0.0, h.variance * s2));
        c.amplitude = pr.y_scale * a.p[kc + k];
        fit.components.push_back(c);
    }
    std::sort(
        fit.components.begin(), fit.components.end(),
        [](const FittedComponent& l, const FittedComponent& r) { return l.centre < r.centre; });
    const LineWidths w = model.widths(a.p);
    std::size_t at = 2 * kc;
    const double inf = std::numeric_limits<double>::infinity();
    fit.width_errors = {inf, inf};
    if (uses_gauss_width(ctx.shape.profile)) {
        fit.widths.gauss = pr.step * w.gauss;
        fit.width_errors.gauss = pr.step * error(at++);
    } else {
        fit.width_errors.gauss = 0;
    }
    if (uses_lorentz_width(ctx.shape.profile)) {
        fit.widths.lorentz = pr.step * w.lorentz;
        fit.width_errors.lorentz = pr.step * error(at++);
    } else {
        fit.width_errors.lorentz = 0;
    }
    fit.lobe_width = pr.step * lobe_width(ctx.shape, w);
    fit.baseline_centre = pr.origin;
    fit.baseline_half = pr.step * pr.half;
    for (int j = 0; j <= ctx.degree; ++j)
        fit.baseline_coefficients[std::size_t(j)] = pr.y_scale * a.p[at + std::size_t(j)];
    fit.baseline_coefficients[0] += pr.y_origin;
    fit.noise = pr.noise * pr.y_scale;
    fit.residual_rms = pr.y_scale * std::sqrt(a.rss / double(a.points));
    if (pr.noise > 0)
        fit.reduced_chi_square = s2 / (pr.noise * pr.noise);
    else
        fit.reduced_chi_square = s2 > 0 ? inf : 0;
    fit.iterations = a.iterations;
    return fit;
}

// ---- components ---------------------------------------------------------------------

Attempt fit_from(const FitContext& ctx, const Problem& pr, std::span<const double> centres,
                 const LineWidths& widths, std::size_t max_iterations = MAX_ITERATIONS) {
    const ProfileModel model(ctx.shape, int(centres.size()), ctx.degree, pr.half);
    Attempt a;
    a.components = int(centres.size());
    a.points = pr.t.size();
    if (pr.t.size() < std::size_t(model.parameter_count()) + 3) {
        a.refusal = FitRefusal::TooFewPoints;
        return a;
    }
    auto start = linear_start(pr, model, ctx.shape, centres, widths, ctx.degree);
    if (!start) {
        a.refusal = FitRefusal::Singular;
        return a;
    }
    a = solve(pr, model, std::move(*start), max_iterations);
    if (!a.refusal) a.refusal = check(ctx, pr, a);
    return a;
}

std::vector<double> centres_of(const Attempt& a) {
    return {a.p.begin(), a.p.begin() + a.components};
}

// The component of the largest amplitude.
std::size_t strongest_of(const Attempt& a) {
    const std::size_t kc = std::size_t(a.components);
    std::size_t strongest = 0;
    for (std::size_t k = 1; k < kc; ++k)
        if (std::abs(a.p[kc + k]) > std::abs(a.p[kc + strongest])) strongest = k;
    return strongest;
}

// Starts for one more component: where the residual shows the largest lobe
// pointing the way the line does, and the strongest component split in two
// (an unresolved blend looks like one line that is a little too wide).
struct Start {
    std::vector<double> centres;
    LineWidths widths;
    bool split = false;
};

std::vector<Start> next_component_starts(const FitContext& ctx, const Problem& pr,
                                         const Attempt& a) {
    const ProfileModel model(ctx.shape, a.components, ctx.degree, pr.half);
    const LineWidths widths = model.widths(a.p);
    const double lobe = lobe_width(ctx.shape, widths);
    const std::size_t kc = std::size_t(a.components);
    const std::size_t strongest = strongest_of(a);
    const LineShape& shape = ctx.shape;
    const double unit_height = shape_value(shape, height_offset(shape, widths), widths);
    const double sign = a.p[kc + strongest] * unit_height >= 0 ? 1 : -1;

    std::vector<double> r(pr.t.size());
    model.evaluate(a.p, pr.t, r, {});
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = pr.y[i] - r[i];
    const auto h = std::size_t(std::max(1.0, std::round(lobe / 6)));
    std::size_t best = 0;
    double best_value = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < r.size(); ++i) {
        const std::size_t lo = i >= h ? i - h : 0, hi = std::min(r.size() - 1, i + h);
        double sum = 0;
        for (std::size_t k = lo; k <= hi; ++k)
            sum += r[k];
        const double v = sign * sum / double(hi - lo + 1);
        if (v > best_value) {
            best_value = v;
            best = i;
        }
    }
    std::vector<Start> starts;
    std::vector<double> added = centres_of(a);
    added.push_back(pr.t[best] - height_offset(shape, widths));
    starts.push_back({std::move(added), widths, false});

    // Two equal lines one lobe width apart fit as one that is 1.25 (Gaussian)
    // to 1.4 (Lorentzian) times as wide; the halves start narrower by about that.
    for (double apart : {0.3, 0.4})
        for (double narrower : {0.7, 0.85}) {
            std::vector<double> split = centres_of(a);
            const double c = split[strongest];
            split[strongest] = c - apart * lobe;
            split.push_back(c + apart * lobe);
            starts.push_back(
                {std::move(split), {widths.gauss * narrower, widths.lorentz * narrower}, true});
        }
    return starts;
}

// A further component is kept when it lowers the sum of squares by more than
// DELTA_CHI_SQUARE residual variances. Measured on synthetic lines of the
// right profile (bench/profile_fit_bench): the best split of a single line
// gained at most 19 in 1800 lines, two equal lines one lobe width apart at
// signal to noise 30 at least 20 in 600, most of them far more.
constexpr double DELTA_CHI_SQUARE = 20;

// Whether `more` removes at least a third of what `a` leaves above the noise.
// A second line is the cause of a misfit only if it removes much of it: one
// that fits a little of a large misfit (an unlucky noise, a wrong profile) is
// a ghost. In the benchmark's blends that came near DELTA_CHI_SQUARE the
// second line removed 60 to 80 % of it.
bool explains_misfit(const Problem& pr, const Attempt& a, const Attempt& more) {
    if (!(pr.noise > 0)) return true;
    const double noise2 = pr.noise * pr.noise;
    const double excess = a.rss / noise2 - double(a.points - a.p.size());
    return excess <= 0 || (a.rss - more.rss) / noise2 >= excess / 3;
}

bool leaves_more_than_noise(const Problem& pr, const Attempt& a) {
    return !(pr.noise > 0) || a.rss > pr.noise * pr.noise * double(a.points - a.p.size());
}

// The component a blend is better without: one pointing the other way than the
// strongest, one whose height is below five of its errors (the cutoff of the
// scan that finds resolved lines), or the weaker of two closer than a quarter
// of a lobe width; the least significant of these first.
std::optional<std::size_t> unsound_component(const FitContext& ctx, const Problem& pr,
                                             const Attempt& a) {
    if (a.components < 2) return std::nullopt;
    const ProfileModel model(ctx.shape, a.components, ctx.degree, pr.half);
    const double lobe = lobe_of(ctx, model, a);
    const std::size_t kc = std::size_t(a.components);
    std::vector<double> significance(kc);
    const std::size_t strongest = strongest_of(a);
    for (std::size_t k = 0; k < kc; ++k) {
        const Height h = height_of(ctx, model, a, int(k));
        significance[k] = std::abs(h.value) / std::sqrt(h.variance * a.variance());
    }
    std::optional<std::size_t> worst;
    auto consider = [&](std::size_t k) {
        if (!worst || significance[k] < significance[*worst]) worst = k;
    };
    for (std::size_t k = 0; k < kc; ++k) {
        if ((a.p[kc + k] > 0) != (a.p[kc + strongest] > 0) || !(significance[k] >= 5)) consider(k);
        for (std::size_t l = k + 1; l < kc; ++l)
            if (std::abs(a.p[k] - a.p[l]) < 0.25 * lobe)
                consider(significance[k] < significance[l] ? k : l);
    }
    return worst;
}

// How strongly the residual of `a` asks for a split of its strongest line:
// splitting a line into two close ones changes the model, to second and
// third order in their distance, along the second and third derivatives of
// the profile by its centre. The sum of squares of the residual along those
// two directions (made orthogonal to the fit's own Jacobian), over the
// residual variance, is a score test: chi-square with 2 degrees of freedom for
// a single line. Far cheaper than the trial fit it saves.
double split_signal(const FitContext& ctx, const Problem& pr, const Attempt& a) {
    const ProfileModel model(ctx.shape, a.components, ctx.degree, pr.half);
    const std::size_t n = pr.t.size(), np = a.p.size(), kc = std::size_t(a.components);
    if (n < np + 5) return std::numeric_limits<double>::infinity();
    const std::size_t strongest = strongest_of(a);
    const LineWidths widths = model.widths(a.p);
    const double centre = a.p[strongest], amplitude = a.p[kc + strongest];
    constexpr double H = 0.02; // points
    GslPtr<gsl_matrix> m(gsl_matrix_alloc(n, np + 2));
    GslPtr<gsl_vector> r(gsl_vector_alloc(n)), c(gsl_vector_alloc(np + 2));
    std::vector<double> values(n), rows(n * np);
    model.evaluate(a.p, pr.t, values, rows);
    double rss = 0;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < np; ++j)
            gsl_matrix_set(m.get(), i, j, rows[i * np + j]);
        const double v = values[i];
        const double u = pr.t[i] - centre;
        const double below = shape_point(ctx.shape, u - H, widths).d_centre;
        const double at = shape_point(ctx.shape, u, widths).d_centre;
        const double above = shape_point(ctx.shape, u + H, widths).d_centre;
        gsl_matrix_set(m.get(), i, np, amplitude * (above - below) / (2 * H));
        gsl_matrix_set(m.get(), i, np + 1, amplitude * (above - 2 * at + below) / (H * H));
        gsl_vector_set(r.get(), i, pr.y[i] - v);
        rss += (pr.y[i] - v) * (pr.y[i] - v);
    }
    const auto left = qr_least_squares(m.get(), r.get(), c.get());
    if (!left || !std::isfinite(rss - *left)) return std::numeric_limits<double>::infinity();
    return (rss - *left) / a.variance();
}

// A single line passes about one time in five (chi-square with 2 degrees of
// freedom beyond 3). At 4.6, one in ten, 1.5 % of the benchmark's narrowest
// Voigt blends were missed; at 3 none of its blends are.
constexpr double SPLIT_SIGNAL = 3.0;

// Drops unsound components one at a time, refitting after each.
Attempt prune(const FitContext& ctx, const Problem& pr, Attempt a) {
    while (const auto k = unsound_component(ctx, pr, a)) {
        const ProfileModel model(ctx.shape, a.components, ctx.degree, pr.half);
        std::vector<double> centres = centres_of(a);
        centres.erase(centres.begin() + std::ptrdiff_t(*k));
        Attempt fewer = fit_from(ctx, pr, centres, model.widths(a.p));
        if (fewer.refusal) break;
        a = std::move(fewer);
    }
    return a;
}

// Adds components to `a` one at a time: until `wanted` when it is given,
// otherwise while each lowers the sum of squares significantly and stays sound.
Attempt add_components(const FitContext& ctx, const Problem& pr, Attempt a, int wanted,
                       const LineWidths& estimated) {
    const bool forced = wanted > 0;
    const int limit = forced ? wanted : MAX_COMPONENTS;
    // Each round lowers the sum of squares by a finite amount; the bound only
    // keeps a pathological window from trying for long.
    for (int round = 0; a.components < limit && round < 2 * MAX_COMPONENTS; ++round) {
        // A line elsewhere in the window shows with its centre and the widths
        // held, where only the amplitudes are fitted (a linear problem): it
        // goes on to the whole fit only if it already wins a quarter of what
        // is asked. A split cannot be judged so (its halves must move and
        // narrow to fit), so the best of the splits always goes on.
        auto starts = next_component_starts(ctx, pr, a);
        // The widths fitted to one line are pulled by a neighbour it does not
        // know of; the line's half-height widths are not, so a further line
        // also starts from those.
        const std::size_t plain = starts.size();
        for (std::size_t k = 0; k < plain; ++k)
            if (!starts[k].split) starts.push_back({starts[k].centres, estimated, false});
        std::vector<const Start*> tried;
        const Start* best_split = nullptr;
        double best_split_rss = std::numeric_limits<double>::infinity();
        // Nor is a split worth trying when the fit leaves less than the noise
        // alone would, or nothing of what a split would take away.
        const bool split =
            forced || (leaves_more_than_noise(pr, a) && split_signal(ctx, pr, a) > SPLIT_SIGNAL);
        for (const auto& start : starts) {
            if (start.split && !split) continue;
            const ProfileModel more(ctx.shape, int(start.centres.size()), ctx.degree, pr.half);
            double rss = 0;
            if (!linear_start(pr, more, ctx.shape, start.centres, start.widths, ctx.degree, &rss))
                continue;
            if (!start.split) {
                if (forced || a.rss - rss > DELTA_CHI_SQUARE / 4 * a.variance())
                    tried.push_back(&start);
            } else if (rss < best_split_rss) {
                best_split_rss = rss;
                best_split = &start;
            }
        }
        if (best_split) tried.push_back(best_split);
        std::optional<Attempt> best;
        for (const Start* start : tried) {
            Attempt trial = fit_from(ctx, pr, start->centres, start->widths,
                                     forced ? MAX_ITERATIONS : TRIAL_ITERATIONS);
            if (trial.refusal) continue;
            if (!forced) {
                if (!(a.rss - trial.rss > DELTA_CHI_SQUARE * trial.variance())) continue;
                trial = prune(ctx, pr, std::move(trial));
            }
            if (!best || trial.rss < best->rss) best = std::move(trial);
        }
        if (!best) break;
        // A trial may come back with no more components than before once its
        // unsound ones are gone, and still fit much better: then it replaces
        // them, and the search goes on from there.
        if (!forced && !(best->components >= a.components &&
                         (a.rss - best->rss) > DELTA_CHI_SQUARE * best->variance() &&
                         explains_misfit(pr, a, *best)))
            break;
        a = std::move(*best);
    }
    return a;
}

// Further lines in the window: PEAKFINDER's test on what the fitted line
// leaves (so that neither the baseline's slope nor the line's own lobes look
// like lines), with a cutoff of five times the noise. Their centres, in the
// problem's units, strongest first; none within 3/4 of a lobe width of a
// centre already taken.
std::vector<double> residual_lines(const FitContext& ctx, const Problem& pr, const Attempt& a) {
    const ProfileModel model(ctx.shape, a.components, ctx.degree, pr.half);
    const LineWidths widths = model.widths(a.p);
    const double lobe = lobe_width(ctx.shape, widths);
    const double offset = height_offset(ctx.shape, widths);
    const std::size_t kc = std::size_t(a.components);
    const double sign = a.p[kc] * shape_value(ctx.shape, offset, widths) >= 0 ? 1.0 : -1.0;
    std::vector<double> values(pr.t.size());
    model.evaluate(a.p, pr.t, values, {});
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = sign * (pr.y[i] - values[i]);
    const auto q = std::size_t(std::max(1.0, std::round(lobe / 4)));
    std::vector<double> taken = centres_of(a), found;
    // On noiseless data the cutoff keeps rounding from looking like lines.
    const double cutoff = std::max(5 * pr.noise, 1e-6);
    for (std::size_t place : candidate_places(values, q, cutoff)) {
        const double centre = pr.t[place] - offset;
        if (std::any_of(taken.begin(), taken.end(),
                        [&](double t) { return std::abs(t - centre) < 0.75 * lobe; }))
            continue;
        taken.push_back(centre);
        found.push_back(centre);
    }
    return found;
}

template <class T>
FitOutcome fit_at(std::span<const double> x, std::span<const T> y, std::int32_t npts,
                  double position, const ProfileFitSettings& settings,
                  std::span<const double> predicted) {
    assert(settings.baseline_degree >= 0 && settings.baseline_degree <= 2);
    assert(settings.components >= 0 && settings.components <= MAX_COMPONENTS);
    assert(settings.shape.derivative >= 0 && settings.shape.derivative <= 2);
    assert(settings.window_widths > 0);
    if (npts < 5) return FitRefusal::TooFewPoints;
    const FitContext ctx{settings.shape, settings.baseline_degree};
    const auto line =
        estimate_line(x, y, npts, nearest_point(x, npts, position), settings.shape.derivative);
    // A lobe narrower than anything the points can show is no line either.
    if (!line || !(line->width > 0)) return FitRefusal::NoLine;
    const double reach = settings.window_widths * line->width;
    const std::size_t limit =
        settings.components > 0 ? std::size_t(settings.components) : std::size_t(MAX_COMPONENTS);

    // The window that holds the lobes of every line in `centres` (frequencies).
    auto problem_for = [&](std::span<const double> centres) -> std::optional<Problem> {
        const auto [low, high] = std::minmax_element(centres.begin(), centres.end());
        const PointRange window = points_between(x, npts, *low - reach, *high + reach);
        if (window.count() < 5) return std::nullopt;
        return make_problem(x, y, window, *line);
    };
    auto in_units = [](const Problem& pr, std::vector<double> centres) {
        for (double& c : centres)
            c = (c - pr.origin) / pr.step;
        return centres;
    };
    auto widths_in = [](const Problem& pr, LineWidths w, double from_step) {
        return LineWidths{w.gauss * from_step / pr.step, w.lorentz * from_step / pr.step};
    };

    if (!predicted.empty()) {
        // The predictions inside the window are the components, nearest first,
        // with the line at the position unless one of them is near it.
        const auto a = std::lower_bound(predicted.begin(), predicted.end(), line->centre - reach);
        const auto b = std::upper_bound(a, predicted.end(), line->centre + reach);
        std::vector<double> centres(a, b);
        std::sort(centres.begin(), centres.end(), [&](double l, double r) {
            return std::abs(l - line->centre) < std::abs(r - line->centre);
        });
        if (centres.empty() || std::abs(centres.front() - line->centre) > 0.5 * line->width)
            centres.insert(centres.begin(), line->centre);
        if (centres.size() > limit) centres.resize(limit);
        const auto pr = problem_for(centres);
        if (!pr) return FitRefusal::TooFewPoints;
        const Attempt fit = fit_from(ctx, *pr, in_units(*pr, centres),
                                     widths_for_lobe(settings.shape, line->width / pr->step));
        if (fit.refusal) return *fit.refusal;
        return result_of(ctx, *pr, fit, x);
    }

    const double main_centre = line->centre;
    auto pr = problem_for(std::span(&main_centre, 1));
    if (!pr) return FitRefusal::TooFewPoints;
    Attempt fit = fit_from(ctx, *pr, in_units(*pr, {main_centre}),
                           widths_for_lobe(settings.shape, line->width / pr->step));
    if (fit.refusal) return *fit.refusal;

    const bool automatic = settings.components == 0;
    // An unresolved blend first: the residual of a blend fitted as one line
    // shows lobes beside it that the scan below would take for lines.
    const LineWidths estimated = widths_for_lobe(settings.shape, line->width / pr->step);
    if (automatic) fit = add_components(ctx, *pr, std::move(fit), 0, estimated);
    if (std::size_t(fit.components) < limit) {
        std::vector<double> others = residual_lines(ctx, *pr, fit);
        if (others.size() > limit - std::size_t(fit.components))
            others.resize(limit - std::size_t(fit.components));
        if (!others.empty()) {
            const ProfileModel model(ctx.shape, fit.components, ctx.degree, pr->half);
            const LineWidths widths = model.widths(fit.p);
            std::vector<double> centres;
            for (int k = 0; k < fit.components; ++k)
                centres.push_back(pr->origin + pr->step * fit.p[std::size_t(k)]);
            for (double t : others)
                centres.push_back(pr->origin + pr->step * t);
            // A weak candidate can take the fit astray: the weakest go first.
            for (; centres.size() > std::size_t(fit.components); centres.pop_back()) {
                auto wider = problem_for(centres);
                if (!wider) continue;
                // The widths fitted to the line alone are pulled by its
                // neighbours; those of its half-height crossings are not, and
                // the better of the two starts is kept.
                std::optional<Attempt> blend;
                for (const LineWidths& w :
                     {widths_in(*wider, widths, pr->step),
                      widths_for_lobe(settings.shape, line->width / wider->step)}) {
                    Attempt trial = fit_from(ctx, *wider, in_units(*wider, centres), w);
                    if (!trial.refusal && (!blend || trial.rss < blend->rss))
                        blend = std::move(trial);
                }
                if (!blend) continue;
                fit = automatic ? prune(ctx, *wider, std::move(*blend)) : std::move(*blend);
                pr = std::move(wider);
                break;
            }
        }
    }
    // A requested count that cannot be reached leaves the components that could
    // be fitted; the result says how many.
    if (fit.components < settings.components)
        fit = add_components(ctx, *pr, std::move(fit), settings.components,
                             widths_for_lobe(settings.shape, line->width / pr->step));
    return result_of(ctx, *pr, fit, x);
}

} // namespace

FitOutcome fit_profile(std::span<const double> x, std::span<const std::int32_t> y,
                       std::int32_t npts, double position, const ProfileFitSettings& settings,
                       std::span<const double> predicted) {
    return fit_at(x, y, npts, position, settings, predicted);
}

FitOutcome fit_profile(std::span<const double> x, std::span<const double> y, std::int32_t npts,
                       double position, const ProfileFitSettings& settings,
                       std::span<const double> predicted) {
    return fit_at(x, y, npts, position, settings, predicted);
}

} // namespace korax

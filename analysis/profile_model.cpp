// The profile model: the unit shapes of the components summed with the
// baseline polynomial, with the partial derivatives by every parameter that
// the solver's Jacobian needs, and the curve of a finished fit.
#include "analysis/profile_fit.h"

#include "base/cloned.h"

#include <algorithm>
#include <cassert>
#include <cmath>

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
    case FitRefusal::AtEnd:
        return "line cut by the end of the spectrum";
    }
    return "";
}

std::vector<std::string_view> flag_names(const LineFlags& flags) {
    std::vector<std::string_view> names;
    if (flags.saturated) names.push_back("saturated");
    if (flags.edge) names.push_back("edge");
    if (flags.blend) names.push_back("blend?");
    if (flags.shape) names.push_back("shape");
    if (flags.low) names.push_back("low");
    return names;
}

std::string flags_text(const LineFlags& flags) {
    std::string text;
    for (std::string_view name : flag_names(flags)) {
        if (!text.empty()) text += ' ';
        text += name;
    }
    return text.empty() ? "-" : text;
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
        sum += c.amplitude * shape_value(shape, x - c.centre, free_widths ? c.widths : widths);
    return sum;
}

// ---- the model --------------------------------------------------------------------

ProfileModel::ProfileModel(LineShape shape, int components, int baseline_degree, double half,
                           bool free_widths)
    : m_shape(shape), m_components(components), m_degree(baseline_degree), m_half(half),
      m_free(free_widths && components > 1) {
    assert(components >= 1 && components <= MAX_COMPONENTS);
    assert(baseline_degree >= 0 && baseline_degree <= 2);
    assert(half > 0);
}

int ProfileModel::width_count() const {
    return int(uses_gauss_width(m_shape.profile)) + int(uses_lorentz_width(m_shape.profile));
}

std::size_t ProfileModel::width_at(int k) const {
    return std::size_t(2 * m_components + (m_free ? k * width_count() : 0));
}

int ProfileModel::parameter_count() const {
    return 2 * m_components + width_count() * (m_free ? m_components : 1) + m_degree + 1;
}

namespace {
// Widths are taken by absolute value, so the solver may step through zero; a
// width of exactly zero would leave no profile.
constexpr double SMALLEST_WIDTH = 1e-9;
} // namespace

LineWidths ProfileModel::widths(std::span<const double> p, int k) const {
    const std::size_t at = width_at(k);
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

KORAX_CLONED void ProfileModel::evaluate(std::span<const double> p, std::span<const double> t,
                                         std::span<double> values,
                                         std::span<double> jacobian) const {
    assert(p.size() == std::size_t(parameter_count()));
    assert(values.size() >= t.size());
    const std::size_t n = t.size(), np = p.size();
    const bool want = !jacobian.empty();
    assert(!want || jacobian.size() >= n * np);
    const auto k_count = std::size_t(m_components);
    const bool gauss = uses_gauss_width(m_shape.profile);
    const bool lorentz = uses_lorentz_width(m_shape.profile);
    std::fill_n(values.begin(), n, 0.0);

    // Kept per thread: every step of every fit evaluates the model.
    thread_local std::vector<double> u;
    thread_local std::vector<ShapePoint> s;
    u.resize(n);
    s.resize(n);
    for (std::size_t k = 0; k < k_count; ++k) {
        const LineWidths w = widths(p, int(k));
        const auto gauss_at = width_at(int(k)), lorentz_at = gauss ? gauss_at + 1 : gauss_at;
        const double gauss_sign = gauss && p[gauss_at] < 0 ? -1 : 1;
        const double lorentz_sign = lorentz && p[lorentz_at] < 0 ? -1 : 1;
        const double amplitude = p[k_count + k];
        // The first component with a width column sets it, the others sharing
        // it add to it: no column is cleared first.
        const bool first = m_free || k == 0;
        for (std::size_t i = 0; i < n; ++i)
            u[i] = t[i] - p[k];
        shape_points(m_shape, u, w, s);
        for (std::size_t i = 0; i < n; ++i) {
            values[i] += amplitude * s[i].value;
            if (!want) continue;
            double* gradient = jacobian.data() + i * np;
            gradient[k] = amplitude * s[i].d_centre;
            gradient[k_count + k] = s[i].value;
            if (gauss) {
                const double d = amplitude * s[i].d_gauss * gauss_sign;
                gradient[gauss_at] = first ? d : gradient[gauss_at] + d;
            }
            if (lorentz) {
                const double d = amplitude * s[i].d_lorentz * lorentz_sign;
                gradient[lorentz_at] = first ? d : gradient[lorentz_at] + d;
            }
        }
    }
    const auto base = np - std::size_t(m_degree) - 1;
    for (std::size_t i = 0; i < n; ++i) {
        const double tau = t[i] / m_half;
        double power = 1;
        for (int j = 0; j <= m_degree; ++j, power *= tau) {
            values[i] += p[base + std::size_t(j)] * power;
            if (want) jacobian[i * np + base + std::size_t(j)] = power;
        }
    }
}

} // namespace korax

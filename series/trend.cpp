// The trend's polynomial, by GSL's linear least squares on the orders centred
// and scaled, so that the normal equations stay well conditioned whatever the
// orders are.
#include "series/trend.h"

#include <gsl/gsl_multifit.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace korax {

double Trend::at(double order) const {
    if (degree < 0) return 0;
    const double t = (order - centre) / scale;
    double value = 0;
    for (int k = degree; k >= 0; --k)
        value = value * t + coefficients[static_cast<std::size_t>(k)];
    return value;
}

Trend fit_trend(std::span<const double> orders, std::span<const double> o_c, int max_degree) {
    assert(orders.size() == o_c.size() && max_degree >= 0 && max_degree <= 2);
    std::vector<double> x, y;
    for (std::size_t i = 0; i < orders.size(); ++i)
        if (std::isfinite(orders[i]) && std::isfinite(o_c[i])) {
            x.push_back(orders[i]);
            y.push_back(o_c[i]);
        }
    Trend trend;
    if (x.empty()) return trend;
    std::vector<double> distinct = x;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    trend.degree = std::min<int>(max_degree, static_cast<int>(distinct.size()) - 1);
    const auto [low, high] = std::minmax_element(x.begin(), x.end());
    trend.centre = (*low + *high) / 2;
    trend.scale = std::max(1.0, (*high - *low) / 2);
    if (trend.degree == 0) {
        double sum = 0;
        for (double v : y)
            sum += v;
        trend.coefficients[0] = sum / static_cast<double>(y.size());
        return trend;
    }
    const std::size_t n = x.size(), p = static_cast<std::size_t>(trend.degree) + 1;
    const auto matrix =
        std::unique_ptr<gsl_matrix, void (*)(gsl_matrix*)>(gsl_matrix_alloc(n, p), gsl_matrix_free);
    const auto values =
        std::unique_ptr<gsl_vector, void (*)(gsl_vector*)>(gsl_vector_alloc(n), gsl_vector_free);
    const auto c =
        std::unique_ptr<gsl_vector, void (*)(gsl_vector*)>(gsl_vector_alloc(p), gsl_vector_free);
    const auto cov =
        std::unique_ptr<gsl_matrix, void (*)(gsl_matrix*)>(gsl_matrix_alloc(p, p), gsl_matrix_free);
    const auto work =
        std::unique_ptr<gsl_multifit_linear_workspace, void (*)(gsl_multifit_linear_workspace*)>(
            gsl_multifit_linear_alloc(n, p), gsl_multifit_linear_free);
    if (!matrix || !values || !c || !cov || !work) throw std::bad_alloc();
    for (std::size_t i = 0; i < n; ++i) {
        const double t = (x[i] - trend.centre) / trend.scale;
        double power = 1;
        for (std::size_t k = 0; k < p; ++k, power *= t)
            gsl_matrix_set(matrix.get(), i, k, power);
        gsl_vector_set(values.get(), i, y[i]);
    }
    double chi_square = 0;
    gsl_multifit_linear(matrix.get(), values.get(), c.get(), cov.get(), &chi_square, work.get());
    for (std::size_t k = 0; k < p; ++k)
        trend.coefficients[k] = gsl_vector_get(c.get(), k);
    return trend;
}

} // namespace korax

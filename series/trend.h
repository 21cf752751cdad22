// The trend of a series: observed minus calculated of the members measured so
// far, as a polynomial in the member's order of degree up to 2. Predictions
// from preliminary constants drift smoothly along a series, so the trend
// carries the members measured to where the others should be.
#pragma once

#include <array>
#include <span>

namespace korax {

struct Trend {
    int degree = -1; // -1: nothing measured, the trend is 0 everywhere
    // The polynomial in (order - centre) / scale, lowest power first.
    std::array<double, 3> coefficients{};
    double centre = 0, scale = 1;
    double at(double order) const;
};

// The least-squares polynomial through (orders[i], o_c[i]) of degree up to
// `max_degree` (0..2), and never more than the distinct orders allow: one
// member gives a constant, two a straight line, three and more a parabola.
// Points that are not finite are left out.
Trend fit_trend(std::span<const double> orders, std::span<const double> o_c, int max_degree = 2);

} // namespace korax

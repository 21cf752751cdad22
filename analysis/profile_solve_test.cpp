#include "analysis/profile_solve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace korax {
namespace {

using profile_detail::qr_least_squares;

// The residual sum of squares of b on the columns of a (one after the
// other), by modified Gram-Schmidt taken twice in long double: a truth the
// Householder reflections in doubles must meet to rounding.
long double reference_residual(std::vector<double> a, std::size_t rows, std::size_t columns,
                               std::vector<double> b) {
    std::vector<long double> q(a.begin(), a.end()), r(b.begin(), b.end());
    for (std::size_t k = 0; k < columns; ++k) {
        long double* v = q.data() + k * rows;
        for (int pass = 0; pass < 2; ++pass)
            for (std::size_t j = 0; j < k; ++j) {
                const long double* u = q.data() + j * rows;
                long double dot = 0;
                for (std::size_t i = 0; i < rows; ++i)
                    dot += u[i] * v[i];
                for (std::size_t i = 0; i < rows; ++i)
                    v[i] -= dot * u[i];
            }
        long double norm = 0;
        for (std::size_t i = 0; i < rows; ++i)
            norm += v[i] * v[i];
        norm = std::sqrt(norm);
        for (std::size_t i = 0; i < rows; ++i)
            v[i] /= norm;
        for (int pass = 0; pass < 2; ++pass) {
            long double dot = 0;
            for (std::size_t i = 0; i < rows; ++i)
                dot += v[i] * r[i];
            for (std::size_t i = 0; i < rows; ++i)
                r[i] -= dot * v[i];
        }
    }
    long double left = 0;
    for (long double v : r)
        left += v * v;
    return left;
}

// The columns a split test hands over: a line's Jacobian (centre, amplitude,
// width, a sloping baseline) and its second and third derivatives by the
// centre, of scales far apart and nearly dependent, on tens of points.
TEST(ProfileSolve, SmallLeastSquaresMeetAnExactReference) {
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0, 1);
    struct Case {
        std::size_t rows, columns;
        double amplitude;
    };
    for (const Case c : {Case{12, 3, 1.0}, Case{45, 7, 3000.0}, Case{200, 9, 1e5}}) {
        std::vector<double> a(c.rows * c.columns), b(c.rows);
        for (std::size_t i = 0; i < c.rows; ++i) {
            const double t = (double(i) - double(c.rows) / 2) / 4;
            const double shape = 1 / (1 + t * t);
            for (std::size_t k = 0; k < c.columns; ++k)
                a[k * c.rows + i] = k == 0   ? 1.0
                                    : k == 1 ? t / 10
                                             : c.amplitude * std::pow(shape, double(k)) *
                                                   std::pow(t, double(k % 3));
            b[i] = 5 + 0.3 * t + c.amplitude * shape + noise(random);
        }
        const long double truth = reference_residual(a, c.rows, c.columns, b);
        std::vector<double> qa = a, qb = b;
        const auto left = qr_least_squares(qa, c.rows, c.columns, qb);
        ASSERT_TRUE(left) << c.rows << " x " << c.columns;
        EXPECT_NEAR(*left, double(truth), 1e-9 * double(truth)) << c.rows << " x " << c.columns;
    }
    // A column that repeats another leaves a coefficient undetermined; one of
    // zeros has no direction at all.
    std::vector<double> a(20 * 3), b(20, 1.0);
    for (std::size_t i = 0; i < 20; ++i) {
        a[i] = 1;
        a[20 + i] = double(i);
        a[40 + i] = double(i);
    }
    EXPECT_FALSE(qr_least_squares(a, 20, 3, b));
    std::vector<double> zeros(20 * 2, 0.0), c(20, 1.0);
    for (std::size_t i = 0; i < 20; ++i)
        zeros[i] = 1;
    EXPECT_FALSE(qr_least_squares(zeros, 20, 2, c));
}

} // namespace
} // namespace korax

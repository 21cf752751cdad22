// The noise estimate from the histogram median against the same estimate
// from fully sorted residuals, on spectra of every kind: to the bit.
#include "analysis/smooth.h"
#include "batch/median.h"
#include "batch/processing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace korax {
namespace {

double sorted_median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid] + v[mid - 1]) / 2;
}

// The estimate as its definition reads: residuals from the 5-point pass with
// the mirrored ends, their median, the median of the absolute deviations from
// it, each by sorting.
double sorted_deviation(const std::vector<std::int32_t>& y, std::int32_t n,
                        std::int32_t smoothed_by) {
    std::array<float, 5> coef{};
    smoothing_coefficients(2, coef);
    std::vector<double> r;
    for (std::int32_t i = 1; i <= n; ++i) {
        double s = 0;
        for (int k = -2; k <= 2; ++k)
            s += double(y[std::size_t(mirror_index(i + k, n))]) * coef[std::size_t(k + 2)];
        r.push_back(double(y[std::size_t(i)]) - s);
    }
    const double centre = sorted_median(r);
    for (double& x : r)
        x = std::fabs(x - centre);
    double sigma = 1.4826 * sorted_median(r) / std::sqrt(1.0 - double(coef[2]));
    if (smoothed_by > 0) {
        std::vector<float> table(static_cast<std::size_t>(smoothed_by));
        smoothing_coefficients(smoothed_by / 2, table);
        sigma *= std::sqrt(double(table[std::size_t(smoothed_by / 2)]));
    }
    return sigma;
}

TEST(NoiseDeviation, HistogramMedianGivesTheSortedEstimateToTheBit) {
    std::mt19937 random(30);
    using Maker = std::function<std::int32_t(std::int32_t i)>;
    std::uniform_int_distribution<std::int32_t> full(-32768, 32767), coin(0, 1), few(-3, 3);
    std::normal_distribution<double> gauss(0, 25);
    std::cauchy_distribution<double> heavy(0, 40);
    const struct {
        const char* name;
        Maker make;
    } kinds[] = {
        {"constant", [](std::int32_t) { return 1234; }},
        {"zero", [](std::int32_t) { return 0; }},
        {"two values", [&](std::int32_t) { return coin(random) ? 17 : -4; }},
        {"16-bit extremes", [&](std::int32_t) { return coin(random) ? 32767 : -32768; }},
        {"full 16-bit range", [&](std::int32_t) { return full(random); }},
        {"few levels", [&](std::int32_t) { return few(random); }},
        {"noise on lines",
         [&](std::int32_t i) {
             const double d = i % 401 - 200.0;
             return std::int32_t(std::lround(gauss(random) + 20000 * std::exp(-d * d / 18)));
         }},
        {"heavy tails",
         [&](std::int32_t) { return std::int32_t(std::clamp(heavy(random), -32768.0, 32767.0)); }},
        {"ramp", [](std::int32_t i) { return 5 * i - 30000; }},
    };
    std::uniform_int_distribution<std::int32_t> size(5, 3000);
    for (const auto& kind : kinds)
        for (int trial = 0; trial < 40; ++trial) {
            // Odd and even counts, the smallest ones, and one large spectrum.
            const std::int32_t n = trial < 2 ? 5 + trial : trial == 2 ? 200001 : size(random);
            std::vector<std::int32_t> y(std::size_t(n) + 2);
            for (std::int32_t i = 1; i <= n; ++i)
                y[std::size_t(i)] = kind.make(i);
            for (std::int32_t smoothed_by : {0, 25}) {
                const double expected = sorted_deviation(y, n, smoothed_by);
                const double got = noise_deviation(y, n, smoothed_by);
                ASSERT_EQ(std::bit_cast<std::uint64_t>(expected), std::bit_cast<std::uint64_t>(got))
                    << kind.name << ", " << n << " points: " << expected << " against " << got;
            }
        }
}

TEST(Median, EqualsTheSortsMiddleAcrossSignsZerosAndDuplicates) {
    std::mt19937 random(31);
    std::uniform_int_distribution<int> pick(0, 5);
    std::uniform_real_distribution<double> wide(-1e12, 1e12);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<double> v(std::size_t(1 + trial * 7 % 1001));
        for (double& x : v) {
            switch (pick(random)) {
            case 0:
                x = 0.0;
                break;
            case 1:
                x = -0.0;
                break;
            case 2:
                x = 1.0 / 35;
                break;
            case 3:
                x = -1e-300;
                break;
            default:
                x = wide(random);
            }
        }
        EXPECT_EQ(sorted_median(v), median(v)) << v.size() << " values";
    }
}

} // namespace
} // namespace korax

#include "analysis/order_statistic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace korax {
namespace {

// Every rank of every set against the sorted values: the counting must not
// lose a value at a bucket's edge, in a run of ties or beside an outlier.
TEST(OrderStatistic, EveryRankIsTheSortedValue) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 3.6);
    std::uniform_real_distribution<double> unit(0, 1);
    struct Set {
        std::string name;
        std::vector<double> values;
    };
    std::vector<Set> sets;
    auto make = [&](std::string name, std::size_t n, auto value) {
        Set s{std::move(name), {}};
        for (std::size_t i = 0; i < n; ++i)
            s.values.push_back(value(i));
        sets.push_back(std::move(s));
    };
    for (std::size_t n : {1, 2, 39, 40, 41, 112, 517}) {
        const std::string at = " n=" + std::to_string(n);
        make("noise" + at, n, [&](std::size_t) { return 300 + noise(random); });
        make("counts" + at, n, [&](std::size_t) { return std::round(300 + noise(random)); });
        make("few distinct" + at, n, [&](std::size_t i) { return double(i % 3); });
        // Whole numbers are counted one by one in a window around the k-th's
        // likely place: lines outside it, a rank outside it, whole numbers
        // too large to round, infinities beside them.
        make("counts with lines" + at, n, [&](std::size_t) {
            return std::round(300 + noise(random)) +
                   (unit(random) < 0.1 ? std::round(1e4 * unit(random)) : 0);
        });
        make("whole, far apart" + at, n, [&](std::size_t i) { return -double(i * i) * 1000; });
        make("whole, beyond 2^52" + at, n,
             [&](std::size_t i) { return 9007199254740992.0 + 2 * double(i % 11); });
        make("whole and infinite" + at, n, [&](std::size_t i) {
            constexpr double inf = std::numeric_limits<double>::infinity();
            return i % 7 == 0 ? (i % 2 ? inf : -inf) : double(i % 13) - 6;
        });
        make("one apart" + at, n, [&](std::size_t i) { return i == n / 2 ? 1e6 : 5.0; });
        // A strong line among the background: one bucket holds nearly all.
        make("outliers" + at, n, [&](std::size_t) {
            return noise(random) + (unit(random) < 0.05 ? 1e4 * unit(random) : 0);
        });
        make("ascending" + at, n, [&](std::size_t i) { return double(i); });
        make("descending" + at, n, [&](std::size_t i) { return -double(i) * 0.37; });
        make("doubles' whole range" + at, n, [&](std::size_t i) {
            return (i % 2 ? 1 : -1) * std::numeric_limits<double>::max() / double(i + 1);
        });
        make("subnormal" + at, n, [&](std::size_t i) {
            return std::numeric_limits<double>::denorm_min() * double(i % 7);
        });
        make("units in the last place" + at, n, [&](std::size_t i) {
            return 1 + double(i % 5) * std::numeric_limits<double>::epsilon();
        });
    }
    for (const Set& s : sets) {
        std::vector<double> sorted = s.values;
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t k = 0; k < sorted.size(); ++k)
            ASSERT_EQ(sorted[k], kth_smallest(s.values, k)) << s.name << " k=" << k;
    }
}

TEST(OrderStatistic, NaNsGetWhatNthElementGives) {
    std::vector<double> values;
    for (int i = 0; i < 200; ++i)
        values.push_back(i % 17 == 3 ? std::nan("") : double((i * 37) % 101));
    const std::vector<double> kept = values;
    for (std::size_t k : {0, 50, 100, 199}) {
        std::vector<double> copy = values;
        std::nth_element(copy.begin(), copy.begin() + std::ptrdiff_t(k), copy.end());
        const double got = kth_smallest(values, k);
        if (std::isnan(copy[k]))
            EXPECT_TRUE(std::isnan(got)) << k;
        else
            EXPECT_EQ(copy[k], got) << k;
    }
    // The values themselves stay as they were.
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_TRUE(values[i] == kept[i] || (std::isnan(values[i]) && std::isnan(kept[i])));
}

} // namespace
} // namespace korax

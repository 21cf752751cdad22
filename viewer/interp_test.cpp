// INTERP, the expansion of a display with few points.
#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "viewer/display.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace korax {
namespace {

struct Expanded {
    std::array<std::int32_t, MAXEXP + 2> out{};
    std::int32_t n = 0, ixexp = 1;
};

Expanded expand(const std::vector<std::int32_t>& y) {
    Expanded e;
    e.n = interp_expand(y, std::span<std::int32_t, MAXEXP + 2>(e.out), e.ixexp);
    return e;
}

TEST(Interp, PassesUntilMoreThan512Points) {
    struct Case {
        int points, expected_n, expected_ixexp;
    };
    for (auto c : {Case{4, 769, 256}, Case{512, 1023, 2}, Case{257, 513, 2}, Case{256, 1021, 4},
                   Case{5, 513, 128}}) {
        auto e = expand(std::vector<std::int32_t>(static_cast<std::size_t>(c.points), 3));
        EXPECT_EQ(c.expected_n, e.n) << c.points;
        EXPECT_EQ(c.expected_ixexp, e.ixexp) << c.points;
    }
}

TEST(Interp, FlatStaysFlatAndRampIsExact) {
    auto flat = expand(std::vector<std::int32_t>(4, -77));
    for (int k = 1; k <= flat.n; ++k)
        ASSERT_EQ(-77, flat.out[std::size_t(k)]) << k;

    // One pass over 300 points of y = 10k: the quadratic through a straight line
    // is the line, so every midpoint, the backward-looking last one included,
    // lies half-way: 5 * (j + 1) at output point j.
    std::vector<std::int32_t> ramp;
    for (int k = 1; k <= 300; ++k)
        ramp.push_back(10 * k);
    auto e = expand(ramp);
    ASSERT_EQ(599, e.n);
    for (int j = 1; j <= 599; ++j)
        ASSERT_EQ(5 * (j + 1), e.out[std::size_t(j)]) << j;
}

TEST(Interp, SpikeMidpointsLookForwardAndTruncate) {
    // A spike of height h at point 100 of 300 zeros; one pass. Point k lands at
    // output 2k - 1, so the spike is output 199.
    struct Case {
        int h, before2, before1, after1;
    };
    for (auto c : {Case{1000, -125, 750, 375}, Case{7, 0, 5, 2}, Case{-7, 0, -5, -2},
                   Case{-1000, 125, -750, -375}}) {
        std::vector<std::int32_t> y(300, 0);
        y[99] = c.h;
        auto e = expand(y);
        EXPECT_EQ(c.h, e.out[199]);
        EXPECT_EQ(c.before2, e.out[196]) << c.h;
        EXPECT_EQ(c.before1, e.out[198]) << c.h;
        EXPECT_EQ(c.after1, e.out[200]) << c.h;
        EXPECT_EQ(0, e.out[202]) << c.h;
        EXPECT_EQ(0, e.out[194]) << c.h;
    }
}

TEST(Interp, FrequenciesSpanTheDisplayEvenly) {
    testing::load_spectrum(10, 100.0, 4.0, [](std::int32_t i) { return i; });
    ViewerState v;
    v.FLOW = 104.0;
    v.FHIGH = 116.0;
    v.IFIRST = 2;
    v.ILAST = 5;
    v.IXEXP = 1;
    INTERP(v.FLOW, v.FHIGH, v.IFIRST, v.ILAST, v.NEXP, v.IXEXP, v);
    ASSERT_EQ(769, v.NEXP);
    EXPECT_EQ(256, v.IXEXP);
    EXPECT_DOUBLE_EQ(104.0, v.FEXP[1]);
    EXPECT_DOUBLE_EQ(110.0, v.FEXP[385]);
    EXPECT_DOUBLE_EQ(116.0, v.FEXP[769]);
    // The data points stay where they were: point 3 (intensity 3) is output 257.
    EXPECT_EQ(2, v.YEXP[1]);
    EXPECT_EQ(3, v.YEXP[257]);
    EXPECT_EQ(5, v.YEXP[769]);
}

} // namespace
} // namespace korax

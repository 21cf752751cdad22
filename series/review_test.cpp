// The review's decisions and its checks across a series: which fit is taken,
// which members share a line, whose width is odd, and who is off the trend.
#include "series/review.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace korax {
namespace {

TEST(Review, DecisionsInTheirOrder) {
    struct Case {
        ReviewInput in;
        Decision decision;
        const char* reason;
    } cases[] = {
        {{true, "", 100.2, 100.0, 0.5, false}, Decision::Take, ""},
        {{true, "", 99.5, 100.0, 0.5, false}, Decision::Take, ""}, // on the tolerance
        {{true, "", 100.51, 100.0, 0.5, false}, Decision::Skip, "no line within tolerance"},
        {{true, "", 100.1, 100.0, 0.5, true}, Decision::Skip, "flagged"},
        // Beyond the tolerance says so before the flags.
        {{true, "", 101.0, 100.0, 0.5, true}, Decision::Skip, "no line within tolerance"},
        {{false, "fit did not converge", 0, 100.0, 0.5, false},
         Decision::Skip,
         "fit refused: fit did not converge"},
        {{true, "", std::nan(""), 100.0, 0.5, false}, Decision::Skip, "no line within tolerance"},
    };
    for (const Case& t : cases) {
        const ReviewDecision d = decide(t.in);
        EXPECT_EQ(t.decision, d.decision) << t.reason;
        EXPECT_EQ(t.reason, d.reason);
    }
}

TEST(Review, MembersOnOneLineShareItsNumber) {
    const std::vector<double> centres{10.0, 10.2, 20.0, 30.0, 30.1, 30.25, 40.0};
    const std::vector<double> widths(centres.size(), 0.4);
    const std::vector<bool> fitted{true, true, true, true, true, true, false};
    const std::vector<int> line = shared_lines(centres, widths, fitted);
    EXPECT_EQ(line[0], line[1]);
    EXPECT_GE(line[0], 0);
    EXPECT_EQ(-1, line[2]);
    EXPECT_EQ(line[3], line[4]);
    EXPECT_EQ(line[4], line[5]); // 0.15 from its neighbour
    EXPECT_NE(line[0], line[3]);
    EXPECT_EQ(-1, line[6]); // not fitted
}

TEST(Review, WidthsUnlikeTheMedianAreOdd) {
    const std::vector<double> widths{1.0, 1.1, 0.95, 1.7, 0.55, 1.0, 9.0};
    const std::vector<bool> fitted{true, true, true, true, true, true, false};
    const std::vector<bool> odd = odd_widths(widths, fitted);
    EXPECT_EQ((std::vector<bool>{false, false, false, true, true, false, false}), odd);
    // Two widths are no median.
    const std::vector<double> two{1.0, 5.0};
    EXPECT_EQ((std::vector<bool>{false, false}), odd_widths(two, {true, true}));
}

TEST(Review, AMemberOffItsNeighboursTrendIsFoundAndTheOthersAreNot) {
    // o-c a cubic in the order, as preliminary constants leave it, on 31
    // members; member 12 measured a line 0.3 away (a neighbour's), member 25
    // one a tenth of a width away, well outside its error.
    std::vector<double> orders, o_c, errors, widths;
    for (int k = 0; k <= 30; ++k) {
        orders.push_back(k);
        const double u = k + 11.0;
        o_c.push_back(-0.025 * u + 1.8e-5 * u * u * u);
        errors.push_back(0.002);
        widths.push_back(0.4);
    }
    o_c[12] += 0.3;
    o_c[25] += 0.04;
    std::vector<bool> checked(orders.size(), true);
    checked[3] = false; // measured before: a neighbour only
    const std::vector<bool> off = off_trend(orders, o_c, errors, widths, checked);
    for (std::size_t k = 0; k < off.size(); ++k)
        EXPECT_EQ(k == 12, off[k]) << "member " << k;
    // Fewer than three points check nothing.
    const std::vector<double> at{1, 2}, far{0, 5}, small{0.001, 0.001}, narrow{0.1, 0.1};
    EXPECT_EQ((std::vector<bool>{false, false}), off_trend(at, far, small, narrow, {true, true}));
}

} // namespace
} // namespace korax

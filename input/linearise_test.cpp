// The axis check after an ASCII read: statistics, the tenth-of-a-step limit,
// the report and the resampling.
#include "input/linearise.h"

#include "driver/store.h"
#include "input/ascii.h"
#include "window/test_window.h"

#include <gtest/gtest.h>

#include <vector>

namespace korax {
namespace {

class Linearise : public ::testing::Test {
  protected:
    void SetUp() override { store().reset(); }
    // Loads a spectrum as the ASCII reader leaves it.
    void load(const std::vector<double>& f, const std::vector<std::int32_t>& y) {
        auto& s = store();
        s.NPTS = static_cast<std::int32_t>(f.size());
        for (std::size_t i = 0; i < f.size(); ++i) {
            s.FREQ[i + 1] = f[i];
            s.INTENS[i + 1] = y[i];
        }
        s.FSTART = f.front();
        s.FEND = f.back();
        s.FSTEP = (s.FEND - s.FSTART) / (s.NPTS - 1);
        s.IYMIN = -10000;
        s.IYMAX = 10000;
    }
    TestWindow w;
};

TEST_F(Linearise, UnevenAxisIsReportedAndResampled) {
    load({0, 1, 3, 4}, {100, 0, 1000, 500});
    linearise_axis();
    const auto& s = store();
    EXPECT_EQ(4.0 / 3.0, s.FREQ[2]);
    EXPECT_EQ(2.0 * (4.0 / 3.0), s.FREQ[3]);
    EXPECT_EQ(4.0, s.FREQ[4]);
    // 0 + (4/3 - 1) * 1000 / 2 and 0 + (8/3 - 1) * 1000 / 2, truncated.
    EXPECT_EQ(166, s.INTENS[2]);
    EXPECT_EQ(833, s.INTENS[3]);
    EXPECT_EQ(100, s.INTENS[1]);
    EXPECT_EQ(500, s.INTENS[4]);
    EXPECT_EQ(-10000, s.IYMIN);
    EXPECT_EQ(10000, s.IYMAX);

    const std::vector<std::string> expected = {
        "",
        "          The data is not linear in frequency:",
        "           Maximum deviation =      0.33333  at point      2        1.00000",
        "                Maximum step =      2.00000  at point      3        3.00000",
        "                Minimum step =      1.00000  at point      2        1.00000",
        "                DeltaF/(n-1) =      1.33333",
        "",
        "           Sum of deviations =      0.66667",
        "           average deviation =      0.22222",
        "",
        "          KORAX will now linearise the frequency axis by linear interpolation,",
        "          but you might still want to check the input",
    };
    for (std::size_t r = 0; r < expected.size(); ++r)
        EXPECT_EQ(expected[r], w.row(static_cast<int>(r) + 1)) << r + 1;
}

TEST_F(Linearise, TenthOfAStepIsTheLimit) {
    // FSTEP = 10: a deviation of exactly 1.0 is accepted, a hair more is not.
    load({0, 11, 20, 30}, {0, 1, 2, 3});
    linearise_axis();
    EXPECT_FALSE(w.screen_contains("not linear"));
    EXPECT_EQ(11.0, store().FREQ[2]);
    EXPECT_EQ(1, store().INTENS[2]);

    load({0, 11.001, 20, 30}, {0, 1, 2, 3});
    linearise_axis();
    EXPECT_TRUE(w.screen_contains("The data is not linear in frequency:"));
    EXPECT_EQ(10.0, store().FREQ[2]);
}

TEST(AxisStatistics, EqualNeighboursAndFirstExtremeWins) {
    const std::vector<double> f = {0, 0, 1, 1, 3, 4}; // element 0 unused
    const AxisStatistics st = axis_statistics(f, 0.0, 1.0);
    EXPECT_EQ(0.0f, st.min_step);
    EXPECT_EQ(3, st.min_step_at);
    EXPECT_EQ(2.0f, st.max_step);
    EXPECT_EQ(4, st.max_step_at);
    EXPECT_EQ(1.0f, st.max_deviation);
    EXPECT_EQ(3, st.max_deviation_at);
    EXPECT_EQ(1.0f, st.sum_deviation);
}

} // namespace
} // namespace korax

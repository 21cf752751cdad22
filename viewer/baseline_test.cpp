// The B and N keys: the cutoff bounds and the dialogs of both forms of baseline
// subtraction.
#include "viewer/baseline.h"

#include "analysis/smooth.h"
#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/commands.h"
#include "viewer/lookfm.h"

#include <gtest/gtest.h>

#include <cmath>

namespace korax {
namespace {

TEST(Baseline, CutoffBounds) {
    const std::int32_t step = 7;
    std::int32_t hi = 20 * step;
    for (int k = 0; k < 60; ++k)
        hi = move_upper_cutoff(hi, 'Z', step);
    EXPECT_EQ(-497 * step, hi);
    EXPECT_EQ(-497 * step + 5 * step, move_upper_cutoff(hi, 'W', step));

    std::int32_t lo = hi - 20 * step;
    for (int k = 0; k < 10; ++k)
        lo = move_lower_cutoff(lo, 'W', step, hi);
    EXPECT_EQ(hi - 3 * step, lo);
    EXPECT_EQ(hi - 3 * step, move_lower_cutoff(lo, 'w', step, hi));
    EXPECT_EQ(hi - 13 * step, move_lower_cutoff(lo, 'Z', step, hi));
    EXPECT_EQ(lo, move_lower_cutoff(lo, 'q', step, hi));
}

class BaselineKey : public ::testing::Test {
  protected:
    void SetUp() override {
        store().reset();
        testing::set_geometry(800, 540, 30);
        // A slope with a narrow line on it.
        testing::load_spectrum(1500, 200.0, 0.1, [](std::int32_t i) {
            const std::int32_t line =
                std::abs(i - 400) <= 5 ? 4000 - 100 * (i - 400) * (i - 400) : 0;
            return 1000 + 2 * i + line;
        });
        lookfm_entry(v);
        smooth_settings() = SmoothSettings{};
    }
    TestWindow w;
    ViewerState v;
};

TEST_F(BaselineKey, PlainSubtractionIsShiftedToTheReferenceLevel) {
    auto& s = store();
    w.type("101");
    w.keys("\r");
    key_baseline(v);
    EXPECT_EQ(101, smooth_settings().NSMOOT);
    double sum = 0;
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        const auto k = std::size_t(i);
        ASSERT_EQ(static_cast<std::int32_t>(s.ORIGNL[k] - s.WORK[k] + v.YREF), s.INTENS[k]) << i;
        sum += s.INTENS[k];
    }
    EXPECT_DOUBLE_EQ(sum / s.NPTS, v.YMEAN);
    // The slope is gone: away from the line and the ends the result is flat.
    EXPECT_NEAR(s.INTENS[200], s.INTENS[1000], 3);
    EXPECT_TRUE(w.screen_contains(" Press ENTER to continue"));
}

TEST_F(BaselineKey, FineControlRunsTheCutoffDialog) {
    auto& s = store();
    const std::int32_t step = static_cast<std::int32_t>((v.YHIGH - v.YLOW) / s.SCREEN.MAXY);
    ASSERT_GT(step, 0);
    w.type("-51");
    w.keys(std::string(60, 'Z') + "\r"); // upper cutoff down to its floor
    w.keys("WWWWWWWW\r");                // lower cutoff up to 3 steps below it
    w.keys("\r");
    key_baseline(v);
    const auto& st = smooth_settings();
    EXPECT_EQ(51, st.NSMOOT);
    EXPECT_EQ(-497 * step, st.CUTHI);
    EXPECT_EQ(st.CUTHI - 3 * step, st.CUTLO);
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        const auto k = std::size_t(i);
        ASSERT_EQ(static_cast<std::int32_t>(s.ORIGNL[k] - s.WORK[k] + v.YREF), s.INTENS[k]) << i;
    }
    // The band lies below the preliminary baseline, and so does the final one.
    EXPECT_LT(s.WORK[1000], s.BASLIN[1000]);
}

TEST_F(BaselineKey, SmoothingKeyAsksUntilTheAnswerIsValid) {
    auto& s = store();
    const std::vector<std::int32_t> before(s.INTENS.begin(), s.INTENS.begin() + s.NPTS + 1);
    w.type("");
    w.type("-7");
    w.type("6");
    w.type("9");
    key_smooth(v);
    EXPECT_EQ(9, smooth_settings().NSMOOT);
    // A quadratic top is kept, the line spills over its foot, and the slope far
    // from it is kept.
    EXPECT_EQ(before[400], s.INTENS[400]);
    EXPECT_GT(s.INTENS[407], before[407] + 100);
    EXPECT_NEAR(before[1000], s.INTENS[1000], 1);
}

} // namespace
} // namespace korax

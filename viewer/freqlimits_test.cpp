// The F key's frequency limits: the answers and the screen.
#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/display.h"
#include "viewer/freqlimits.h"

#include <gtest/gtest.h>

namespace korax {
namespace {

// A spectrum from 100 to 1000; the display 200..400 with the cursor at 300.
constexpr double F1 = 100, FN = 1000;

struct Case {
    double answer;
    LimitStep step;
    FrequencyWindow after;
};

void check(const FrequencyWindow& start, const Case& c, bool lower) {
    FrequencyWindow d = start;
    LimitStep step =
        lower ? apply_lower_limit(d, c.answer, F1, FN) : apply_upper_limit(d, c.answer, F1);
    EXPECT_EQ(c.step, step) << c.answer;
    EXPECT_DOUBLE_EQ(c.after.FLOW, d.FLOW) << c.answer;
    EXPECT_DOUBLE_EQ(c.after.FHIGH, d.FHIGH) << c.answer;
    EXPECT_DOUBLE_EQ(c.after.FCURS, d.FCURS) << c.answer;
}

TEST(FreqLimits, LowerLimitAnswers) {
    const FrequencyWindow start{200, 400, 300};
    for (const Case& c : {
             Case{0, LimitStep::Next, {200, 400, 300}}, // ENTER keeps it
             Case{250, LimitStep::Next, {250, 400, 300}},
             Case{50, LimitStep::Next, {50, 400, 300}},     // below the data: the redraw raises it
             Case{1000, LimitStep::Next, {1000, 400, 300}}, // the last point itself
             Case{1000.5, LimitStep::Repeat, {200, 400, 300}},
             Case{-500, LimitStep::Done, {400, 600, 500}},   // centre on 500, width kept
             Case{-2000, LimitStep::Done, {800, 1000, 900}}, // beyond the end: display ends there
             Case{-50, LimitStep::Done, {100, 300, 200}}, // before the start: display starts there
             Case{-120, LimitStep::Done, {20, 220, 120}}, // only the centre is held inside
         }) {
        check(start, c, true);
    }
    // The centre is held as a 32-bit float.
    FrequencyWindow d{0, 2, 1};
    ASSERT_EQ(LimitStep::Done, apply_lower_limit(d, -123.456789, 0, 1000));
    EXPECT_DOUBLE_EQ(123.456787109375, d.FCURS);
}

TEST(FreqLimits, UpperLimitAnswers) {
    const FrequencyWindow start{200, 400, 250};
    for (const Case& c : {
             Case{0, LimitStep::Done, {200, 400, 300}}, // kept; cursor to the middle
             Case{350, LimitStep::Done, {200, 350, 275}},
             Case{5000, LimitStep::Done, {200, 5000, 2600}}, // the redraw lowers it
             Case{200, LimitStep::Repeat, {200, 400, 250}},  // not above the lower limit
             Case{150, LimitStep::Repeat, {200, 400, 250}},
             Case{-1000, LimitStep::Done, {-250, 750, 250}}, // width about the cursor, unclamped
         }) {
        check(start, c, false);
    }
    // After a new lower limit above the upper one, ENTER is not enough.
    check({500, 400, 250}, Case{0, LimitStep::Repeat, {500, 400, 250}}, false);
    // A lower limit below the data, then an upper limit still below the data.
    check({20, 400, 250}, Case{50, LimitStep::Repeat, {20, 400, 250}}, false);
}

class FreqLimitsScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::set_geometry(800, 540, 30);
        testing::load_spectrum(901, 100.0, 1.0, [](std::int32_t i) { return i; });
        v.FLOW = 200;
        v.FHIGH = 400;
        v.FCURS = 250;
    }
    int rows_with(std::string_view text) const {
        int n = 0;
        for (int r = 1; r <= 30; ++r)
            n += tw.row(r).find(text) != std::string::npos;
        return n;
    }
    TestWindow tw;
    ViewerState v;
};

TEST_F(FreqLimitsScreen, EnterTwiceCentresTheCursor) {
    tw.type("abc"); // unreadable: asked again
    tw.type("");
    tw.type("");
    frequency_limits_screen(v);
    EXPECT_DOUBLE_EQ(200, v.FLOW);
    EXPECT_DOUBLE_EQ(400, v.FHIGH);
    EXPECT_DOUBLE_EQ(300, v.FCURS);
    EXPECT_EQ("_____F R E Q U E N C Y   L I M I T S" + std::string(44, '_'), tw.row(2));
    EXPECT_EQ(std::string(37, ' ') + "lower       upper           range", tw.row(4));
    EXPECT_EQ("  Frequency limits of data:            100.000    1000.000         900.000",
              tw.row(6));
    EXPECT_EQ("  Frequency limits of display:         200.000     400.000         200.000",
              tw.row(7));
    EXPECT_EQ("  Frequency of cursor:                       250.000", tw.row(8));
    EXPECT_EQ("  Lower frequency display limit:       200.000 -->  abc", tw.row(15));
    EXPECT_EQ(2, rows_with("Lower frequency display limit:"));
    EXPECT_EQ(1, rows_with("  Upper frequency display limit:       400.000 -->"));
}

TEST_F(FreqLimitsScreen, TypedLimitsKeepSevenDigits) {
    testing::load_spectrum(10, 123000.0, 1000.0, [](std::int32_t i) { return i; });
    v.FLOW = 123000;
    v.FHIGH = 125000;
    tw.type("123456.789");
    tw.type("");
    frequency_limits_screen(v);
    EXPECT_DOUBLE_EQ(123456.7890625, v.FLOW);
    EXPECT_DOUBLE_EQ(125000, v.FHIGH);
}

} // namespace
} // namespace korax

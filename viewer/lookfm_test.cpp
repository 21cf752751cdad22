// The viewer's own keys: the display arithmetic of shifts, zooms, scales and
// the cursor, and keys through the loop.
#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/commands.h"
#include "viewer/display.h"
#include "viewer/lookfm.h"
#include "window/inkey.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace korax {
namespace {

// Frequencies 0..999, one per unit, as the pure rules see them.
constexpr double F1 = 0, FN = 999;

void expect_window(const FrequencyWindow& expected, const FrequencyWindow& d, const char* what) {
    EXPECT_DOUBLE_EQ(expected.FLOW, d.FLOW) << what;
    EXPECT_DOUBLE_EQ(expected.FHIGH, d.FHIGH) << what;
    EXPECT_DOUBLE_EQ(expected.FCURS, d.FCURS) << what;
}

TEST(LookfmKeys, ShiftsZoomsHomeAndEnd) {
    FrequencyWindow d;
    d = {10, 110, 60};
    shift_lower(d, 0.5, F1);
    expect_window({0, 100, 50}, d, "A at the left end keeps the width; the cursor moves along");
    d = {500, 600, 550};
    shift_lower(d, 0.1, F1);
    expect_window({490, 590, 540}, d, "a");
    d = {890, 990, 950};
    shift_higher(d, 0.5, FN);
    expect_window({899, 999, 959}, d, "S at the right end");
    d = {500, 600, 550};
    shift_higher(d, 0.1, FN);
    expect_window({510, 610, 560}, d, "s");
    d = {800, 999, 990};
    zoom_in(d, 0.25, F1, FN);
    expect_window({940.25, 999, 990}, d, "E near the right end");
    d = {800, 999, 999};
    zoom_in(d, 0.45, F1, FN);
    expect_window({909.45, 999, 999}, d, "e with the cursor on the last point");
    d = {0, 100, 50};
    zoom_out(d, 0.5, F1, FN);
    expect_window({0, 150, 50}, d, "Q at the left end");
    d = {500, 600, 550};
    zoom_out(d, 0.1, F1, FN);
    expect_window({490, 610, 550}, d, "q");
    d = {0, 999, 0};
    zoom_in(d, 0.25, F1, FN);
    expect_window({0, 249.75, 0}, d, "E about a cursor on the first point");
    d = {300, 400, 10};
    move_home(d, 100, F1);
    expect_window({0, 100, 50}, d, "HOME");
    move_end(d, 100, F1, FN);
    expect_window({899, 999, 949}, d, "END");
    move_end(d, 2000, F1, FN);
    expect_window({0, 2000, 1000}, d, "END with a width beyond the spectrum");
}

// The plot redraw's part of a zoom: snap to points, at least four of them.
void snap(FrequencyWindow& d, const std::vector<double>& f) {
    auto n = static_cast<std::int32_t>(f.size() - 1);
    auto r = displayed_indices(d.FLOW, d.FHIGH, f[1], f[std::size_t(n)], n, true);
    d.FLOW = f[std::size_t(r.IFIRST)];
    d.FHIGH = f[std::size_t(r.ILAST)];
}

TEST(LookfmKeys, RepeatedZoomsEndAtWholeSpectrumAndFourPoints) {
    std::vector<double> f(1001);
    for (int i = 1; i <= 1000; ++i)
        f[std::size_t(i)] = 5000 + 0.25 * (i - 1);
    // The cursor half-way between two points, as after entry with an even
    // number of points on screen.
    FrequencyWindow d{f[400], f[421], (f[410] + f[411]) / 2};
    for (int k = 0; k < 40; ++k) {
        zoom_out(d, 0.5, f[1], f[1000]);
        snap(d, f);
    }
    EXPECT_EQ(f[1], d.FLOW);
    EXPECT_EQ(f[1000], d.FHIGH);
    for (int k = 0; k < 40; ++k) {
        zoom_in(d, 0.25, f[1], f[1000]);
        snap(d, f);
    }
    EXPECT_DOUBLE_EQ(3 * 0.25, d.FHIGH - d.FLOW) << "four points on screen";
}

TEST(LookfmKeys, VerticalScaleAboutReference) {
    double low = 0, high = 1000, ref = 250;
    ASSERT_TRUE(scale_vertical(low, high, ref, -0.25, 1000));
    EXPECT_DOUBLE_EQ(62.5, low);
    EXPECT_DOUBLE_EQ(812.5, high);
    ASSERT_TRUE(scale_vertical(low, high, ref, 0.25, 1000));
    EXPECT_DOUBLE_EQ(15.625, low);
    EXPECT_DOUBLE_EQ(953.125, high);
    EXPECT_DOUBLE_EQ(0.9375 * 1000, high - low) << "W then Z does not give the range back";

    // The small factors are 32-bit constants: 0.05 is 0.0500000007450580596923828125.
    low = 0, high = 1000;
    ASSERT_TRUE(scale_vertical(low, high, ref, -VFACTOR_5, 1000));
    EXPECT_DOUBLE_EQ(949.9999992549419403076171875, high - low);
    low = 0, high = 1000, ref = 250;
    ASSERT_TRUE(shift_vertical(low, high, ref, VFACTOR_2));
    EXPECT_DOUBLE_EQ(19.9999995529651641845703125, low);
    EXPECT_DOUBLE_EQ(269.9999995529651641845703125, ref);
    low = 0, high = 1000, ref = 250;
    ASSERT_TRUE(shift_vertical(low, high, ref, -VFACTOR_10));
    EXPECT_DOUBLE_EQ(-100.00000149011611938, low);
    EXPECT_DOUBLE_EQ(899.99999850988388062, high);
}

TEST(LookfmKeys, VerticalRangeStopsAtTwoUnitsAndAThousandDataRanges) {
    // Each key held from the limits 0..1000 about 250, for data 1000 wide.
    struct Case {
        double f;
        int presses;
        double range; // where the range ends
        double data_range;
    };
    const Case cases[] = {
        {-0.25, 100, 2, 1000},        // W: the trace never vanishes
        {-VFACTOR_5, 1000, 2, 1000},  // w
        {0.25, 100, 1e6, 1000},       // Z: never a flat line of millions
        {VFACTOR_5, 1000, 1e6, 1000}, // z
        {0.25, 100, 2000, 0},         // a flat spectrum counts as 2 units wide
        {-0.25, 2, 562.5, 1000},      // far from the stops the factors stand
    };
    for (const Case& c : cases) {
        double low = 0, high = 1000;
        for (int k = 0; k < c.presses; ++k)
            (void)scale_vertical(low, high, 250, c.f, c.data_range);
        EXPECT_NEAR(c.range, high - low, 1e-9) << c.f << " x" << c.presses;
        EXPECT_DOUBLE_EQ(250 - 0.25 * c.range, low) << "still placed about the reference";
    }

    // A range already below the stop is kept by W, not widened; Z widens from it.
    double low = 10, high = 11;
    (void)scale_vertical(low, high, 10.25, -0.25, 1000);
    EXPECT_DOUBLE_EQ(1, high - low);
    ASSERT_TRUE(scale_vertical(low, high, 10.25, 0.25, 1000));
    EXPECT_DOUBLE_EQ(1.25, high - low);
    // Limits wider than the stop (a display from before an append) stay.
    low = 0, high = 5e6;
    (void)scale_vertical(low, high, 0, 0.25, 1000);
    EXPECT_DOUBLE_EQ(5e6, high - low);

    double ref = 250;
    low = 0, high = 1000;
    for (int k = 0; k < 5000; ++k)
        (void)shift_vertical(low, high, ref, VFACTOR_10);
    EXPECT_TRUE(std::isfinite(low) && std::isfinite(high) && std::isfinite(ref));
}

TEST(LookfmKeys, InversionAndItsUndoing) {
    std::vector<std::int32_t> y{0, 100, -50, 1000};
    const std::vector<std::int32_t> original = y;
    invert_intensities(y, -52.5, 1102.5);
    EXPECT_EQ((std::vector<std::int32_t>{1050, 950, 1100, 50}), y);
    invert_intensities(y, -52.5, 1102.5);
    EXPECT_EQ(original, y) << "twice with the same limits restores";

    // With the limits changed in between the truncation no longer cancels.
    y = {-50};
    invert_intensities(y, 0, 1000);
    EXPECT_EQ(1050, y[0]);
    invert_intensities(y, 0.5, 1000);
    EXPECT_EQ(-49, y[0]);

    y = {0, 5};
    invert_intensities(y, 0, 1e12);
    EXPECT_EQ(std::numeric_limits<std::int32_t>::max(), y[0]) << "held, not wrapped";
}

TEST(LookfmKeys, CursorStaysOneStepInsideTheDisplay) {
    struct Case {
        double from, steps, to;
    };
    // Display 0..799, one unit per step.
    for (auto c : {Case{1, -1, 1}, Case{5, -8, 1}, Case{100, -8, 92}, Case{100, 1, 101},
                   Case{795, 8, 798}, Case{798, 1, 798}, Case{790, 8, 798}}) {
        double f = c.from;
        step_cursor(f, c.steps, 0, 799, 1);
        EXPECT_DOUBLE_EQ(c.to, f) << c.from << " " << c.steps;
    }
}

TEST(LookfmKeys, CommaAlternatesCentreAndQuarters) {
    // First entry of a run: FMEMO 0, cursor already at the centre.
    double memo = 0, f = 150;
    std::vector<double> seen;
    for (int k = 0; k < 4; ++k) {
        centre_quarter(f, memo, 100, 200);
        seen.push_back(f);
    }
    EXPECT_EQ((std::vector<double>{175, 150, 125, 150}), seen);
    // From a cursor left of the centre the quarter is on the right.
    memo = 0, f = 110;
    centre_quarter(f, memo, 100, 200);
    centre_quarter(f, memo, 100, 200);
    EXPECT_DOUBLE_EQ(175, f);
}

class LookfmWindow : public ::testing::Test {
  protected:
    void SetUp() override { testing::set_geometry(800, 540, 30); }
    TestWindow tw;
};

TEST_F(LookfmWindow, EntryOfAShortSpectrum) {
    testing::load_spectrum(100, 2000.0, 0.5, [](std::int32_t i) { return i % 2 ? -1000 : 1000; });
    ViewerState v;
    lookfm_entry(v);
    EXPECT_DOUBLE_EQ(-1100, v.YLOW);
    EXPECT_DOUBLE_EQ(1100, v.YHIGH);
    EXPECT_DOUBLE_EQ(-550, v.YREF);
    EXPECT_DOUBLE_EQ(-550, v.YREF_ENTRY);
    EXPECT_DOUBLE_EQ(0, v.YMEAN);
    // Shown whole, cursor in the middle; the store continues it flat to one
    // point per pixel column without changing NPTS.
    EXPECT_DOUBLE_EQ(2000, v.FLOW);
    EXPECT_DOUBLE_EQ(2049.5, v.FHIGH);
    EXPECT_DOUBLE_EQ(2024.75, v.FCURS);
    const auto& s = store();
    EXPECT_EQ(100, s.NPTS);
    EXPECT_EQ(1000, s.INTENS[800]);
    EXPECT_DOUBLE_EQ(2000 + 799 * 0.5, s.FREQ[800]);
    EXPECT_EQ(-1000, s.ORIGNL[99]);
    EXPECT_EQ(7, v.NFIT);
    EXPECT_TRUE(tw.screen_contains("Display limits -> X:      1     100"));
}

TEST_F(LookfmWindow, EntryOfALongAndOfAFlatSpectrum) {
    testing::load_spectrum(5000, 0.0, 2.0, [](std::int32_t i) { return i; });
    ViewerState v;
    lookfm_entry(v);
    EXPECT_DOUBLE_EQ(0, v.FLOW);
    EXPECT_DOUBLE_EQ(1598, v.FHIGH) << "one point per pixel column: point 800";
    EXPECT_DOUBLE_EQ(2500.5, v.YMEAN);

    testing::load_spectrum(50, 0.0, 2.0, [](std::int32_t) { return 40; });
    ViewerState flat;
    lookfm_entry(flat);
    EXPECT_DOUBLE_EQ(39, flat.YLOW);
    EXPECT_DOUBLE_EQ(41, flat.YHIGH);
}

TEST_F(LookfmWindow, KeysThroughTheLoop) {
    testing::load_spectrum(3000, 100.0, 1.0, [](std::int32_t i) { return i % 100; });
    ViewerState v;
    lookfm_entry(v);
    ASSERT_TRUE(lookfm_key(v, 'e'));
    double width = v.FHIGH - v.FLOW;
    ASSERT_TRUE(lookfm_key(v, KEY_HOME));
    EXPECT_DOUBLE_EQ(100, v.FLOW);
    EXPECT_NEAR(width, v.FHIGH - v.FLOW, 1.0) << "HOME keeps the width, up to snapping";
    ASSERT_TRUE(lookfm_key(v, KEY_END));
    EXPECT_DOUBLE_EQ(3099, v.FHIGH);

    // The low byte of -134 is "z": only non-negative codes are characters.
    double low = v.YLOW;
    ASSERT_TRUE(lookfm_key(v, -134));
    EXPECT_EQ(low, v.YLOW);
    ASSERT_TRUE(lookfm_key(v, 'z'));
    EXPECT_NE(low, v.YLOW);

    // Inversion changes the store; R brings back what entry saw.
    ASSERT_TRUE(lookfm_key(v, '-'));
    EXPECT_NE(5, store().INTENS[5]);
    ASSERT_TRUE(lookfm_key(v, 'R'));
    EXPECT_EQ(5, store().INTENS[5]);

    ASSERT_TRUE(lookfm_key(v, 'L'));
    EXPECT_TRUE(tw.row(1).find("<- Cursor") != std::string::npos);
}

TEST_F(LookfmWindow, ExitQuestionTakesOnlyYesOrNo) {
    testing::load_spectrum(3000, 100.0, 1.0, [](std::int32_t i) { return i % 100; });
    ViewerState v;
    lookfm_entry(v);
    std::string status = tw.row(1);

    tw.keys("x q");
    tw.extended(71);
    tw.keys("n");
    EXPECT_TRUE(lookfm_key(v, KEY_ENTER)) << "N stays in the viewer";
    EXPECT_TRUE(tw.front_end.keys.empty()) << "other keys were read and ignored";
    EXPECT_EQ(status, tw.row(1));
    EXPECT_EQ("", tw.row(2));

    tw.keys("aY");
    EXPECT_FALSE(lookfm_key(v, KEY_ENTER));
    EXPECT_EQ(" ARE YOU SURE (Y/N) ?", tw.row(1));
}

TEST_F(LookfmWindow, HelpWaitsForEnterThenRedraws) {
    testing::load_spectrum(3000, 100.0, 1.0, [](std::int32_t i) { return i % 100; });
    ViewerState v;
    lookfm_entry(v);
    tw.keys("xq");
    tw.keys("\r");
    ASSERT_TRUE(lookfm_key(v, 'h'));
    EXPECT_TRUE(tw.front_end.keys.empty());
    EXPECT_TRUE(tw.screen_contains("Display limits -> X:"));
}

} // namespace
} // namespace korax

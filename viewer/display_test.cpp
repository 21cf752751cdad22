// What the viewer shows: index arithmetic, status rows and key line, and the
// picture of the plot area.
#include "analysis/autopk.h"
#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/display.h"
#include "viewer/peak_marks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <vector>

namespace korax {
namespace {

TEST(Display, IndexOfFrequencyRoundsHalfAwayFromZero) {
    // Ten points 100, 101, ... 109.
    struct Case {
        double f;
        std::int32_t index;
    };
    for (auto c : {Case{100, 1}, Case{109, 10}, Case{104.5, 6}, Case{104.49, 5}, Case{99.6, 1},
                   Case{99.5, 0}, Case{95, -4}, Case{150, 51}}) {
        EXPECT_EQ(c.index, index_of(c.f, 100, 109, 10)) << c.f;
    }
    // An axis of equal frequencies (a step of 0 loads) and a NaN give point 1.
    EXPECT_EQ(1, index_of(7, 5, 5, 10));
    EXPECT_EQ(1, index_of(std::nan(""), 100, 109, 10));
    EXPECT_EQ(1073741825, index_of(1e300, 100, 109, 10));
}

TEST(Display, DisplayedRangeIsClampedAndWidenedToFourPoints) {
    struct Case {
        double flow, fhigh;
        std::int32_t npts;
        bool widen;
        std::int32_t first, last;
    };
    // Points 100 .. 100 + npts - 1.
    for (auto c : {
             Case{102, 105, 10, true, 3, 6},  // already four points
             Case{104, 104, 10, true, 3, 7},  // 5..5 -> 4..6 -> 3..7
             Case{104, 105, 10, true, 4, 7},  // 5..6 -> 4..7
             Case{100, 100, 10, true, 1, 4},  // at the left end only the right grows
             Case{109, 109, 10, true, 7, 10}, // and at the right end the left
             Case{50, 500, 10, true, 1, 10},  // limits beyond the spectrum
             Case{-500, 50, 10, true, 1, 4},  // a display wholly before it
             Case{600, 700, 10, true, 7, 10}, // or wholly after it
             Case{104, 104, 10, false, 5, 5}, // without widening
             Case{100, 101, 3, true, 1, 3},   // three points cannot make four
         }) {
        auto r = displayed_indices(c.flow, c.fhigh, 100, 100 + c.npts - 1, c.npts, c.widen);
        EXPECT_EQ(c.first, r.IFIRST) << c.flow << ".." << c.fhigh;
        EXPECT_EQ(c.last, r.ILAST) << c.flow << ".." << c.fhigh;
    }
}

TEST(Display, TruncationHoldsTheIntegerRange) {
    EXPECT_EQ(2, to_intensity(2.9));
    EXPECT_EQ(-2, to_intensity(-2.9));
    EXPECT_EQ(std::numeric_limits<std::int32_t>::max(), to_intensity(1e12));
    EXPECT_EQ(std::numeric_limits<std::int32_t>::min(), to_intensity(-1e12));
    EXPECT_EQ(0, to_intensity(std::nan("")));
}

TEST(Display, StatusRowsAndKeyLine) {
    EXPECT_EQ(" X:    123      1234.5678  <- Cursor        Display limits -> X:      1     800 ",
              status_row1(123, 1234.5678, 1, 800));
    std::string row2 = status_row2(-42, -1100.7, 1100.9);
    EXPECT_EQ(" Y:    -42" + std::string(52, ' ') + "Y:  -1100    1100 ", row2);
    EXPECT_EQ("Y:", row2.substr(62, 2)) << "under the X: of row 1";
    // Far-out limits fill their fields with asterisks instead of wrapping.
    EXPECT_EQ("*******", status_row2(0, -1e30, 1e30).substr(64, 7));

    std::string keys = key_line();
    ASSERT_EQ(80u, keys.size());
    EXPECT_EQ("A-S  Q-E  Z-W  2-3    K-L", keys.substr(0, 25));
    EXPECT_EQ("H=help ", keys.substr(73));
}

TEST(Display, FileNameField) {
    std::string thirty(30, 'n');
    EXPECT_EQ(thirty, file_name_field(thirty));
    EXPECT_EQ(std::string("ocs.001") + std::string(23, ' '), file_name_field("ocs.001"));
    std::string long_name = "/home/lab/spectra/2024/ocs/run17.001"; // 36 characters
    EXPECT_EQ("..." + long_name.substr(8), file_name_field(long_name));
    EXPECT_EQ(31u, file_name_field(long_name).size());
    EXPECT_EQ(thirty, file_name_field(thirty + "   ")) << "trailing blanks do not count";
    EXPECT_EQ("..." + std::string(28, 'n'), file_name_field(thirty + "n"));
}

class DisplayPicture : public ::testing::Test {
  protected:
    void SetUp() override { testing::set_geometry(800, 540, 30); }
    // A spectrum of n points, and a display of all of it.
    ViewerState whole(std::int32_t n, std::int32_t (*y)(std::int32_t)) {
        testing::load_spectrum(n, 1000.0, 0.5, y);
        ViewerState v;
        v.FLOW = store().FREQ[1];
        v.FHIGH = store().FREQ[std::size_t(n)];
        v.FCURS = (v.FLOW + v.FHIGH) / 2;
        v.YLOW = -100;
        v.YHIGH = 100;
        v.KEYLIN = key_line();
        return v;
    }
    TestWindow tw;
};

TEST_F(DisplayPicture, ClampedTraceRunsAlongTheFrame) {
    // Every point far above the limits: the trace lies on the top edge of the
    // frame, and the row under it stays the blue of the plot area.
    ViewerState v = whole(2000, [](std::int32_t) { return 5000; });
    set_viewer_plot_area();
    plot_redraw(v);
    const Canvas& c = tw.window().canvas();
    int top = tw.window().to_pixel_y(v.YHIGH);
    int x1 = tw.window().to_pixel_x(v.FLOW), x2 = tw.window().to_pixel_x(v.FHIGH);
    int cursor = tw.window().to_pixel_x(v.FCURS);
    for (int x = x1 + 1; x < x2; ++x) {
        if (x == cursor) continue;
        ASSERT_EQ(15, c.pixel(x, top)) << x;
        ASSERT_EQ(1, c.pixel(x, top + 1)) << x;
    }
}

TEST_F(DisplayPicture, CursorDrawnTwiceLeavesTheCanvas) {
    ViewerState v = whole(3000, [](std::int32_t i) { return (i * 37) % 200 - 100; });
    full_redraw(v);
    auto before = tw.window().canvas().pixels();
    draw_cursor(v);
    EXPECT_NE(before, tw.window().canvas().pixels());
    draw_cursor(v);
    EXPECT_EQ(before, tw.window().canvas().pixels());
}

TEST_F(DisplayPicture, RedrawSnapsLimitsAndWritesRows) {
    ViewerState v = whole(3000, [](std::int32_t i) { return i % 50; });
    v.FLOW = v.FHIGH = v.FCURS = 1100.3; // nearest point: 202 (1100.5)
    full_redraw(v);
    // 202..202 widened to 200..204 and snapped to their frequencies.
    EXPECT_EQ(200, v.IFIRST);
    EXPECT_EQ(204, v.ILAST);
    EXPECT_DOUBLE_EQ(1099.5, v.FLOW);
    EXPECT_DOUBLE_EQ(1101.5, v.FHIGH);
    EXPECT_DOUBLE_EQ(2.0 / 799, v.CSTEP);
    EXPECT_EQ(128, v.IXEXP) << "5 points are interpolated in 7 passes";
    EXPECT_EQ(202, v.ICURS);
    EXPECT_EQ(" X:    202      1100.3000  <- Cursor        Display limits -> X:    200     204",
              tw.row(1));
    EXPECT_EQ(" Y:      2" + std::string(52, ' ') + "Y:   -100     100", tw.row(2));
    EXPECT_EQ(key_line().substr(0, 40) + "spectrum.001", tw.row(30).substr(0, 52));
    EXPECT_FALSE(v.STALE);

    // 513 displayed points are drawn as they are, 512 interpolated.
    v.FLOW = store().FREQ[1001];
    v.FHIGH = store().FREQ[1513];
    plot_redraw(v);
    EXPECT_EQ(1, v.IXEXP);
    v.FHIGH = store().FREQ[1512];
    plot_redraw(v);
    EXPECT_EQ(2, v.IXEXP);
    EXPECT_EQ(1023, v.NEXP);
}

TEST_F(DisplayPicture, ShortStatusUpdateOrFullWhenStale) {
    ViewerState v = whole(3000, [](std::int32_t i) { return i % 50; });
    full_redraw(v);
    tw.window().set_text_position(2, 1);
    tw.window().write_chars(std::string(80, 'm'));
    v.ICURS = 7;
    v.FCURS = 1003.0;
    update_cursor_status(v);
    EXPECT_EQ("mmmm     7" + std::string(70, 'm'), tw.row(2));
    EXPECT_EQ(" X:      7      1003.0000  <- Cursor", tw.row(1).substr(0, 36));
    v.STALE = true;
    update_cursor_status(v);
    EXPECT_EQ(" Y:      7", tw.row(2).substr(0, 10));
    EXPECT_FALSE(v.STALE);
}

TEST_F(DisplayPicture, FlatAxisAndSeventeenRows) {
    // A step of 0 gives an axis of equal frequencies: nothing divides by zero.
    testing::load_spectrum(10, 500.0, 0.0, [](std::int32_t) { return 3; });
    ViewerState v;
    v.FLOW = v.FHIGH = v.FCURS = 500.0;
    v.YLOW = 2;
    v.YHIGH = 4;
    full_redraw(v);
    EXPECT_EQ(1, v.IFIRST);
    EXPECT_EQ(1, v.ICURS);

    testing::set_geometry(800, 540, 17);
    tw.window().set_geometry(800, 540, 17);
    v.YLOW = 0;
    v.YHIGH = 1000;
    set_viewer_coords(v);
    EXPECT_DOUBLE_EQ(4.0, v.YTICK);
    EXPECT_DOUBLE_EQ(-52.0, v.YBOTM);
}

// The marks of the lines PEAKFINDER found: none until | turns them on, then
// one stick from the top of the plot in the column of each line in view, as
// long as its intensity says (the strongest a quarter of the plot's height).
TEST_F(DisplayPicture, PeakfinderMarksOnlyWhenOnAndInView) {
    ViewerState v = whole(2000, [](std::int32_t) { return -90; });
    peakfinder_lines() = {{1100.0, 0.001, 400, 0.3, true},
                          {1300.0, 0.001, 200, 0.3, true},
                          {5000.0, 0.001, 800, 0.3, true}};
    // Column -> light grey pixels in it, inside the plot area.
    const auto& g = store().SCREEN;
    const int top = 2 * g.ROWPIX - 2, bottom = g.MAXY - 2 * g.ROWPIX + 2;
    const auto marks = [&] {
        std::map<int, int> found;
        const Canvas& c = tw.window().canvas();
        // The plot area, inside the grey margins of the window.
        for (int x = 2; x < c.width() - 2; ++x)
            for (int y = top; y <= bottom; ++y)
                if (c.pixel(x, y) == 7) ++found[x];
        return found;
    };
    full_redraw(v);
    EXPECT_TRUE(marks().empty()) << "off at the start";
    key_peak_marks(v);
    plot_redraw(v);
    const std::map<int, int> on = marks();
    ASSERT_EQ(2u, on.size()) << "the line at 5000 is out of view";
    const int x1100 = tw.window().to_pixel_x(1100.0), x1300 = tw.window().to_pixel_x(1300.0);
    ASSERT_TRUE(on.contains(x1100)) << x1100;
    ASSERT_TRUE(on.contains(x1300)) << x1300;
    // A quarter of the plot's height for the strongest in view (the frame's
    // row on top may take one), half of that for the other.
    const int quarter = (g.MAXY - 4 * g.ROWPIX + 5) / 4;
    EXPECT_NEAR(quarter, on.at(x1100), 1);
    EXPECT_NEAR(quarter / 2, on.at(x1300), 1);
    key_peak_marks(v);
    plot_redraw(v);
    EXPECT_TRUE(marks().empty()) << "off again";
    peakfinder_lines().clear();
}

} // namespace
} // namespace korax

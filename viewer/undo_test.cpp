// The undo history, and the spectrum after Esc and failures inside commands.
#include "input/pelmo.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/command_guard.h"
#include "viewer/lookfm.h"
#include "viewer/undo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace korax {
namespace {

std::vector<std::int32_t> points(const std::vector<std::int32_t>& a, std::int32_t n) {
    return {a.begin() + 1, a.begin() + 1 + n};
}
std::vector<double> axis(std::int32_t n) {
    return {store().FREQ.begin() + 1, store().FREQ.begin() + 1 + n};
}

class History : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::set_geometry(800, 540, 30);
        testing::load_spectrum(1000, 100.0, 0.25, [](std::int32_t i) { return i * 7 % 13; });
        spectrum_history().start();
    }
    SpectrumHistory& h = spectrum_history();
};

TEST_F(History, AnAppendGoesAndComesBackBitForBit) {
    SpectrumStore& s = store();
    const auto before_intens = points(s.INTENS, 1000);
    SpectrumSnapshot before;
    capture(before, s.NPTS + 1, false, 1.5);
    // What the join writes: the axis continued step by step, new points, the
    // comment, and ORIGNL renewed from INTENS.
    for (std::size_t j = 1001; j <= 2500; ++j) {
        s.FREQ[j] = s.FREQ[j - 1] + s.FSTEP;
        s.INTENS[j] = -static_cast<std::int32_t>(j);
    }
    s.NPTS = 2500;
    s.FEND = s.FREQ[2500];
    set_field(s.SPHEAD.COMENT, " Merged spectrum");
    std::copy(s.INTENS.begin() + 1, s.INTENS.begin() + 2501, s.ORIGNL.begin() + 1);
    const auto joined = points(s.INTENS, 2500);
    const auto joined_axis = axis(2500);
    h.record(std::move(before), "append", true);
    EXPECT_TRUE(h.modified());

    double ymean = 9;
    EXPECT_EQ("append", h.undo(ymean));
    EXPECT_EQ(1000, s.NPTS);
    EXPECT_EQ(before_intens, points(s.INTENS, 1000));
    EXPECT_EQ(349.75, s.FEND);
    EXPECT_EQ(' ', s.SPHEAD.COMENT[1]);
    EXPECT_EQ(1.5, ymean);
    EXPECT_FALSE(h.modified());
    // The joined axis is kept as its step rule, not as 1500 frequencies.
    EXPECT_LT(h.bytes(), 2500 * sizeof(std::int32_t) + 100 * sizeof(double));

    // Whatever lies beyond the end now, the redo brings back its own.
    std::fill(s.FREQ.begin() + 1001, s.FREQ.begin() + 2501, 0.0);
    std::fill(s.ORIGNL.begin() + 1, s.ORIGNL.begin() + 2501, 0);
    EXPECT_EQ("append", h.redo(ymean));
    EXPECT_EQ(2500, s.NPTS);
    EXPECT_EQ(joined, points(s.INTENS, 2500));
    EXPECT_EQ(joined_axis, axis(2500));
    EXPECT_EQ(joined, points(s.ORIGNL, 2500)) << "R returns to the joined spectrum";
    EXPECT_EQ('M', s.SPHEAD.COMENT[1]);
    EXPECT_EQ(9, ymean);
    EXPECT_TRUE(h.modified());
}

TEST_F(History, KeepsEightStepsAndKnowsWhatIsSaved) {
    SpectrumStore& s = store();
    double ymean = 0;
    for (std::int32_t k = 1; k <= 10; ++k) {
        SpectrumSnapshot before;
        capture(before, s.NPTS + 1, false, ymean);
        s.INTENS[1] = k;
        h.record(std::move(before), "inversion", false);
    }
    EXPECT_EQ(8u, h.undo_count());
    // Eight snapshots of the 1000 points and of the flat continuation to one
    // point per pixel column, nothing more.
    EXPECT_LE(h.bytes(), 8 * 1000 * (sizeof(std::int32_t) + sizeof(double)));

    for (int k = 0; k < 8; ++k)
        EXPECT_EQ("inversion", h.undo(ymean));
    EXPECT_EQ("", h.undo(ymean)) << "the two oldest changes have dropped off";
    EXPECT_EQ(2, s.INTENS[1]);
    EXPECT_EQ(8u, h.redo_count());

    h.mark_saved();
    EXPECT_FALSE(h.modified());
    (void)h.redo(ymean);
    EXPECT_EQ(3, s.INTENS[1]);
    EXPECT_TRUE(h.modified());
    (void)h.undo(ymean);
    EXPECT_FALSE(h.modified()) << "back where it was saved";

    // A new change drops what could be redone.
    SpectrumSnapshot before;
    capture(before, s.NPTS + 1, false, ymean);
    s.INTENS[1] = 99;
    h.record(std::move(before), "smoothing", false);
    EXPECT_EQ(0u, h.redo_count());
    EXPECT_EQ("", h.redo(ymean));
}

// A command left by Esc or by a failure at some point of its dialog: the
// spectrum and the display are as before it, and nothing enters the history.
TEST_F(History, EscAndFailuresInsideCommandsLeaveTheSpectrumAsItWas) {
    constexpr int NO_MEMORY = TestFrontEnd::FAIL_NO_MEMORY, ERROR = TestFrontEnd::FAIL_ERROR;
    struct Case {
        const char* where;
        std::int16_t key;
        std::string typed; // keys before the failure
        int failure;       // the key read that fails, or Esc
    };
    const Case cases[] = {
        {"smoothing prompt", 'N', "", 27},
        {"smoothing prompt", 'n', "4\r", NO_MEMORY},
        {"after the subtraction, at its ENTER", 'B', "201\r", NO_MEMORY},
        {"after the subtraction, at its ENTER", 'B', "201\r", ERROR},
        {"upper cutoff", 'b', "-51\rZZ", 27},
        {"lower cutoff", 'b', "-51\rW\rz", ERROR},
        {"PEAKFINDER baseline level", '0', "-5\rW", 27},
        {"PEAKFINDER output name", '0', "-5\r\r\r0\rpeaks", NO_MEMORY},
        {"frequency limits", 'F', "105\r", 27},
        {"save name", 'M', "x", 27},
        {"GLE menu", 'G', "", ERROR},
    };
    SpectrumStore& s = store();
    for (const Case& c : cases) {
        testing::load_spectrum(3000, 100.0, 0.25,
                               [](std::int32_t i) { return (i * 37 % 101) * 10 + (i % 7); });
        spectrum_history().start();
        TestWindow tw;
        ViewerState v;
        lookfm_entry(v);
        const auto intens = points(s.INTENS, s.NPTS);
        const ViewerState view = v;
        tw.keys(c.typed);
        tw.front_end.keys.push_back(c.failure);
        if (c.failure != 27) tw.type(""); // ENTER after the failure row
        EXPECT_TRUE(viewer_key(v, c.key)) << c.where;
        EXPECT_TRUE(tw.front_end.keys.empty()) << c.where;
        EXPECT_EQ(intens, points(s.INTENS, s.NPTS)) << c.where;
        EXPECT_EQ(view.FLOW, v.FLOW) << c.where;
        EXPECT_EQ(view.FHIGH, v.FHIGH) << c.where;
        EXPECT_EQ(view.YMEAN, v.YMEAN) << c.where;
        EXPECT_EQ(0u, spectrum_history().undo_count()) << c.where;
        EXPECT_FALSE(spectrum_history().modified()) << c.where;
        EXPECT_TRUE(tw.screen_contains("Display limits -> X:")) << c.where << ": redrawn";
    }
}

// The append works in ORIGNL and beyond the end of the spectrum; a failure
// after the join puts all of it back: count, limits, the smoothing done before
// the &, and the entry spectrum in ORIGNL.
TEST_F(History, AFailedAppendLeavesTheSmoothedSpectrumAndItsOriginal) {
    SpectrumStore& s = store();
    TestWindow tw;
    std::FILE* file = std::fopen("examples/ocs.001", "rb");
    ASSERT_NE(nullptr, file);
    ASSERT_EQ(PelmoOutcome::Loaded, read_pelmo(file));
    std::fclose(file);
    s.FNAME = "examples/ocs.001";
    spectrum_history().start();
    ViewerState v;
    lookfm_entry(v);
    tw.type("9");
    ASSERT_TRUE(viewer_key(v, 'N'));
    const auto smoothed = points(s.INTENS, s.NPTS);
    const auto original = points(s.ORIGNL, s.NPTS);
    ASSERT_NE(smoothed, original);
    const double fend = s.FEND;

    // At the table's ENTER the points are joined and ORIGNL still holds the
    // second spectrum as read.
    tw.type("ocs.002");
    tw.front_end.keys.push_back(TestFrontEnd::FAIL_NO_MEMORY);
    tw.type(""); // the failure row's ENTER
    ASSERT_TRUE(viewer_key(v, '&'));
    EXPECT_TRUE(tw.front_end.keys.empty());
    EXPECT_EQ(20000, s.NPTS);
    EXPECT_EQ(fend, s.FEND);
    EXPECT_EQ(smoothed, points(s.INTENS, s.NPTS));
    EXPECT_EQ(original, points(s.ORIGNL, s.NPTS));
    EXPECT_EQ(1u, spectrum_history().undo_count()) << "the smoothing only";
}

TEST(FailureRow, NamesTheKeyAndKeepsTheWayBackOnTheRow) {
    EXPECT_EQ(" Key B failed: not enough memory - ENTER: spectrum as before" + std::string(20, ' '),
              failure_row('B', "not enough memory"));
    const std::string long_reason(100, 'x');
    const std::string row = failure_row('&', long_reason);
    EXPECT_EQ(80u, row.size());
    EXPECT_EQ(" - ENTER: spectrum as before", row.substr(52));
    EXPECT_EQ(" Key code -241 failed: ", failure_row(-241, "").substr(0, 23));
}

} // namespace
} // namespace korax

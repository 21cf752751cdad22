// The & key: joining a second spectrum with no gap, across a gap, with an
// overlap, the refusals, and the offset of the appended part.
#include "viewer/commands.h"

#include "viewer/append.h"

#include "input/pelmo_format.h"
#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace korax {
namespace {

namespace fs = std::filesystem;

class Append : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("korax_append_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir);
        auto& s = store();
        s.reset();
        s.SCREEN = ScreenGeometry{799, 539, 30, 80, 19};
        // 100 points at 0, 1, ..., 99 with intensities 10 * (i - 1).
        s.NPTS = 100;
        for (int i = 1; i <= 100; ++i) {
            s.FREQ[i] = i - 1;
            s.INTENS[i] = s.ORIGNL[i] = 10 * (i - 1);
        }
        s.FSTART = 0, s.FEND = 99, s.FSTEP = 1;
        s.FNAME = (dir / "cur.001").string();
        set_field(s.SPHEAD.COMENT, "first");
        v.FLOW = 0, v.FHIGH = 99, v.FCURS = 50;
        v.YLOW = 0, v.YHIGH = 1078; // 2 intensity units per pixel row
        v.YREF = v.YREF_ENTRY = 250;
        v.YMEAN = 495;
    }
    void TearDown() override { fs::remove_all(dir); }

    // A second spectrum of n points from fa with step sa, a(i) = 1000 + 10 i.
    void second(double fa, double sa, std::int32_t n, bool long_form = false) {
        std::vector<unsigned char> b(PELMO_HEADER_BYTES + PELMO_COUNT_BYTES + 2 * std::size_t(n) +
                                     24);
        unsigned char* p = b.data() + PELMO_HEADER_BYTES;
        PelmoCount count;
        count.word = long_form ? std::int16_t{-1} : static_cast<std::int16_t>(n);
        count.long_count = n;
        encode_pelmo_count(count,
                           std::span<unsigned char, PELMO_COUNT_BYTES>(p, PELMO_COUNT_BYTES));
        p += PELMO_COUNT_BYTES;
        for (std::int32_t i = 1; i <= n; ++i, p += 2)
            put_le<std::int16_t>(p, static_cast<std::int16_t>(1000 + 10 * i));
        // The stored end is never used.
        encode_pelmo_axis({fa, fa + (n - 1) * sa + 77.0, sa},
                          std::span<unsigned char, PELMO_AXIS_BYTES>(p, PELMO_AXIS_BYTES));
        std::ofstream(dir / "app.002", std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    // Runs & with the queued keys; true when the keys ran out (RunEnded 2).
    bool run() {
        try {
            key_append(v);
            return false;
        } catch (const RunEnded& e) {
            EXPECT_EQ(2, e.status);
            return true;
        }
    }
    void expect_orignl_is_intens() {
        const auto& s = store();
        for (int i = 1; i <= s.NPTS; ++i)
            ASSERT_EQ(s.INTENS[i], s.ORIGNL[i]) << i;
    }

    fs::path dir;
    ViewerState v;
    TestWindow w;
};

TEST_F(Append, NoGap) {
    second(100, 1, 20);
    w.type("app.002");
    ASSERT_TRUE(run()); // stops at "Press ENTER to continue"
    EXPECT_TRUE(
        w.screen_contains("                    Npts          Fstart          Fend         Fstep"));
    EXPECT_TRUE(
        w.screen_contains("      Current:       100          0.0000       99.0000      1.000000"));
    EXPECT_TRUE(
        w.screen_contains("     Appended:        20        100.0000      119.0000      1.000000"));
    EXPECT_FALSE(w.screen_contains("skipped"));
    EXPECT_FALSE(w.screen_contains("dummy"));

    SetUp();
    w.type("app.002");
    w.type("");
    w.type("");
    ASSERT_FALSE(run());
    const auto& s = store();
    EXPECT_EQ(120, s.NPTS);
    EXPECT_EQ(100.0, s.FREQ[101]);
    EXPECT_EQ(119.0, s.FREQ[120]);
    EXPECT_EQ(1010, s.INTENS[101]);
    EXPECT_EQ(1200, s.INTENS[120]);
    EXPECT_EQ(990, s.INTENS[100]);
    EXPECT_EQ(0.0, s.FSTART);
    EXPECT_EQ(119.0, s.FEND);
    EXPECT_EQ(" Merged spectrum" + std::string(56, ' '), field_text(s.SPHEAD.COMENT));
    EXPECT_EQ(99.0, v.FCURS);
    expect_orignl_is_intens();
}

TEST_F(Append, GapOfFiveAndAHalfSteps) {
    second(104.5, 1, 20);
    w.type("app.002");
    ASSERT_TRUE(run());
    EXPECT_TRUE(
        w.screen_contains("       5 dummy points inserted between current and appended spectrum"));

    SetUp();
    w.type("app.002");
    w.type("");
    w.type("");
    ASSERT_FALSE(run());
    const auto& s = store();
    for (int i = 101; i <= 105; ++i) {
        EXPECT_EQ(i - 1.0, s.FREQ[i]);
        EXPECT_EQ(1010, s.INTENS[i]) << i;
    }
    EXPECT_EQ(1015, s.INTENS[106]); // half way between a(1) and a(2)
    EXPECT_EQ(1025, s.INTENS[107]);
    EXPECT_EQ(123.0, s.FREQ[124]); // the last point not beyond 123.5
    EXPECT_EQ(124, s.NPTS);
    expect_orignl_is_intens();
}

TEST_F(Append, OverlapIsSkipped) {
    second(90, 1, 30);
    w.type("app.002");
    ASSERT_TRUE(run());
    EXPECT_TRUE(w.screen_contains("       9 points from the appended spectrum have been skipped"));

    SetUp();
    w.type("app.002");
    w.type("");
    w.type("");
    ASSERT_FALSE(run());
    EXPECT_EQ(120, store().NPTS);
    EXPECT_EQ(1110, store().INTENS[101]); // a(11), at frequency 100
}

TEST_F(Append, RefusalsReturnToTheNamePrompt) {
    // Ends one step beyond the current end: refused with a message.
    second(91, 1, 10);
    w.type("app.002");
    ASSERT_TRUE(run());
    EXPECT_TRUE(w.screen_contains("     SORRY - Prepending or merging of spectra is not possible"));

    // Nine points, a missing file, a text file, a zero step: silently back.
    for (int variant = 0; variant < 5; ++variant) {
        SetUp();
        store().INTENS[5] = -1; // smoothing since the viewer was entered
        v.YREF = 0;
        if (variant == 0) second(91, 1, 10);
        if (variant == 1) second(100, 1, 9);
        if (variant == 3) std::ofstream(dir / "app.002") << "comment\n1 2\n3 4\n5 6\n7 8\n";
        if (variant == 4) second(100, 0, 20, true);
        w.type(variant == 2 ? "missing.002" : "app.002");
        if (variant == 0) w.type("");
        w.type("   ");
        ASSERT_FALSE(run()) << variant;
        EXPECT_EQ(100, store().NPTS) << variant;
        EXPECT_EQ(40, store().INTENS[5]) << variant;
        EXPECT_EQ(250, v.YREF);
        expect_orignl_is_intens();
        EXPECT_EQ("first", field_text(store().SPHEAD.COMENT).substr(0, 5));
    }
}

TEST_F(Append, OffsetMovesTheAppendedPart) {
    second(100, 1, 20, true);
    w.type("app.002");
    w.type("");
    w.keys("Wqz"); // +2 then +18, ignored, -2
    w.type("");
    ASSERT_FALSE(run());
    EXPECT_EQ(990, store().INTENS[100]);
    EXPECT_EQ(1010 + 18, store().INTENS[101]);
    EXPECT_EQ(1200 + 18, store().INTENS[120]);
    expect_orignl_is_intens();
}

TEST_F(Append, FineAppendedStepIsInterpolatedBetweenTrueNeighbours) {
    // Step 0.25 under a current step of 1: point at f takes a at (f - 100) / 0.25 + 1.
    second(100, 0.25, 80);
    w.type("app.002");
    w.type("");
    w.type("");
    ASSERT_FALSE(run());
    EXPECT_EQ(1010, store().INTENS[101]); // f = 100: a(1)
    EXPECT_EQ(1050, store().INTENS[102]); // f = 101: a(5)
    EXPECT_EQ(1410, store().INTENS[111]); // f = 110: a(41)
    EXPECT_EQ(1770, store().INTENS[120]); // f = 119: a(77)
    EXPECT_EQ(120, store().NPTS);
}

TEST_F(Append, FirstPointAfterAGapOnAFinerAppendedGrid) {
    // Current step 1, appended step below it: the gap ends on a point more
    // than one appended step above a(1). Within the appended data it lies on
    // the line through a(1) and a(2), which for this ramp is its true value;
    // past the data it takes the last appended value.
    struct Case {
        double fa, sa;
        std::int32_t n, npts, first, value;
    };
    const Case cases[] = {
        {100.25, 0.25, 20, 106, 102, 1040}, // f = 101 is a(4), not a(2) = 1020
        {100.5, 0.05, 12, 102, 102, 1110},  // f = 101 is a(11), the last but one
        {101.5, 0.01, 20, 103, 103, 1200},  // f = 102 lies past a(20) at 101.69
    };
    for (const Case& c : cases) {
        SetUp();
        second(c.fa, c.sa, c.n);
        w.type("app.002");
        w.type("");
        w.type("");
        ASSERT_FALSE(run()) << c.fa;
        const auto& s = store();
        EXPECT_EQ(c.npts, s.NPTS) << c.fa;
        EXPECT_EQ(1010, s.INTENS[c.first - 1]) << c.fa; // the last dummy
        EXPECT_EQ(c.value, s.INTENS[c.first]) << c.fa;
        expect_orignl_is_intens();
    }
}

TEST_F(Append, LongGapDrawsWithHiddenDummies) {
    second(150, 1, 20);
    w.type("app.002");
    w.type("");
    w.keys("w");
    w.type("");
    ASSERT_FALSE(run());
    EXPECT_EQ(169 + 1, store().NPTS);
    EXPECT_EQ(1010 + 2, store().INTENS[101]); // a dummy, moved with the rest
    EXPECT_EQ(1010 + 2, store().INTENS[151]);
}

TEST_F(Append, StoredEndBelowTheLastPointIsRefused) {
    // The current spectrum really ends at 99; a stored end of 10 let a second
    // spectrum ending at 29 through, and the overlap search then ran far
    // beyond its ten points.
    for (double stored_end : {10.0, 99.0, 200.0}) {
        SetUp();
        second(20, 1, 10);
        store().FEND = stored_end;
        w.type("app.002");
        ASSERT_TRUE(run()) << stored_end; // waits at "Press ENTER to continue"
        EXPECT_TRUE(
            w.screen_contains("     SORRY - Prepending or merging of spectra is not possible"))
            << stored_end;
        EXPECT_EQ(100, store().NPTS);
    }
}

// The join straight on the store, for axes a file may hold: every new point is
// a dummy a(1) or lies between two neighbours of a(1 .. n), so a value from
// outside a (the sentinel around it) shows a read beyond the appended points.
TEST_F(Append, JoinStaysWithinTheAppendedPointsOnAnyAxes) {
    struct Case {
        double fstep, fa, sa;
        std::int32_t n;
    };
    const Case cases[] = {
        {1, 99.5, 0.001, 10000}, // fine appended grid, overlap of half a step
        {1, 50, 0.01, 20000},    // thousands of points skipped
        {1, 300, 1, 10},         // a gap of 200 dummies
        {1, 0, 20, 10},          // coarse appended grid starting at the current start
        {0.001, 99, 0.5, 10},    // a current step far finer than the appended one
        {1e-300, 101, 1, 10},    // a current step too small to move the frequency
        {0, 120, 1, 10},         // a zero current step (it loads)
        {1e300, 101, 1, 10},     // a current step that overflows at once
        {1, 105.5, 1e-100, 20},  // all appended points within one current step
    };
    for (const Case& c : cases) {
        SetUp();
        SpectrumStore& s = store();
        s.FSTEP = c.fstep;
        AppendedSpectrum a;
        a.n = c.n, a.fa = c.fa, a.sa = c.sa, a.ea = c.fa + (c.n - 1) * c.sa;
        const std::int32_t sentinel = 1 << 30;
        s.ORIGNL[0] = sentinel;
        for (std::int32_t i = 1; i <= c.n; ++i)
            s.ORIGNL[i] = 1000 + 10 * i;
        for (std::int32_t i = c.n + 1; i <= c.n + 100; ++i)
            s.ORIGNL[i] = sentinel;
        if (!reaches_beyond_end(a)) continue;
        const auto joined = append_join(a, 100);
        if (!joined) continue; // the gap would pass MAXPTS
        ASSERT_GE(s.NPTS, 100) << c.fa;
        ASSERT_LE(s.NPTS, MAXPTS) << c.fa;
        for (std::int32_t i = 101; i <= s.NPTS; ++i) {
            if (!std::isfinite(s.FREQ[i])) continue;
            ASSERT_GE(s.INTENS[i], 1010) << "case fa " << c.fa << ", point " << i;
            ASSERT_LE(s.INTENS[i], 1000 + 10 * c.n) << "case fa " << c.fa << ", point " << i;
        }
    }
}

} // namespace
} // namespace korax

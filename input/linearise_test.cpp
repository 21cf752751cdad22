// The axis check after an ASCII read: statistics, the tenth-of-a-step limit,
// the report and the resampling.
#include "input/linearise.h"

#include "input/ascii.h"
#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
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

// An axis whose straight-line frequencies round onto the last read frequency
// before the last point: the resampling's search for the enclosing pair of read
// points ran past point n, out of the spectrum and, with nothing larger there,
// out of the store.
//
// Four frequencies of 1e15 and one a single rounding unit (0.125) above: the
// step is 0.03125, and 1e15 + 3 * 0.03125 rounds to the last frequency.
constexpr std::string_view ROUNDING_AXIS = "c\n"
                                           "1e15 1\n"
                                           "1e15 2\n"
                                           "1e15 3\n"
                                           "1e15 4\n"
                                           "1000000000000000.125 5\n";

TEST_F(Linearise, GridPointOnTheLastFrequencyStaysInsideTheSpectrum) {
    SpectrumStore& s = store();
    s.reset();
    s.SCREEN = ScreenGeometry{799, 539, 30, 80, 19};
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("korax_rounding_axis_" + std::to_string(::getpid()) + ".txt"))
                                 .string();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, f);
        ASSERT_EQ(ROUNDING_AXIS.size(),
                  std::fwrite(ROUNDING_AXIS.data(), 1, ROUNDING_AXIS.size(), f));
        std::fclose(f);
    }
    // Points beyond the spectrum that a search past point 5 would meet: it
    // would stop at point 7 and take 777777, instead of wandering off the end
    // of the store, so that the fault shows as a wrong value in every build.
    s.FREQ[6] = 0.0;
    s.FREQ[7] = 2e15;
    s.INTENS[6] = s.INTENS[7] = 777777;

    s.FNAME = path;
    const bool loaded = read_ascii_spectrum();
    std::remove(path.c_str());
    ASSERT_TRUE(loaded);
    ASSERT_EQ(5, s.NPTS);
    linearise_axis();
    EXPECT_TRUE(w.screen_contains("The data is not linear in frequency:"));

    // Worked by hand: intensities 1..5 scale to -10000, -5000, 0, 5000, 10000;
    // grid points 2 and 3 round to 1e15 and take the value of read point 4 (the
    // last at 1e15), grid point 4 lies on the last frequency and takes its value.
    const std::int32_t expected[] = {-10000, 5000, 5000, 10000, 10000};
    for (std::size_t i = 1; i <= 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i - 1], s.INTENS[i]);
    }
    EXPECT_EQ(1e15, s.FREQ[2]);
    EXPECT_EQ(1e15, s.FREQ[3]);
    EXPECT_EQ(1e15 + 0.125, s.FREQ[4]);
    EXPECT_EQ(1e15 + 0.125, s.FREQ[5]);
}

} // namespace
} // namespace korax

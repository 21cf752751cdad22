// An axis whose straight-line frequencies round onto the last read frequency
// before the last point: the resampling's search for the enclosing pair of read
// points ran past point n, out of the spectrum and, with nothing larger there,
// out of the store.
#include "driver/store.h"
#include "input/ascii.h"
#include "window/test_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace korax {
namespace {

// Four frequencies of 1e15 and one a single rounding unit (0.125) above: the
// step is 0.03125, and 1e15 + 3 * 0.03125 rounds to the last frequency.
constexpr std::string_view ROUNDING_AXIS = "c\n"
                                           "1e15 1\n"
                                           "1e15 2\n"
                                           "1e15 3\n"
                                           "1e15 4\n"
                                           "1000000000000000.125 5\n";

TEST(LineariseFuzzRegress, GridPointOnTheLastFrequencyStaysInsideTheSpectrum) {
    TestWindow w;
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

// The level dialog of PEAKFINDER's baseline and cutoff.
#include "viewer/levels.h"

#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/commands.h"
#include "viewer/lookfm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korax {
namespace {

TEST(Levels, BaselineAndCutoffSteps) {
    const double delta = 22000.0 / 539; // 40.816...: one pixel row
    struct Case {
        int key;
        std::int16_t from, expected;
    } baseline_cases[] = {
        {'z', 0, -40},       {'Z', 0, -407},        {'w', -407, -366},
        {'W', 0, 407},       {'Z', -10900, -11000}, // held at the display's lower limit
        {'W', 10900, 11000},                        // and at its upper limit
        {'x', 5, 5},
    };
    for (const auto& c : baseline_cases)
        EXPECT_EQ(c.expected, move_baseline(c.from, c.key, delta, -11000, 11000))
            << char(c.key) << c.from;

    // The cutoff never reaches the baseline (-366): it stops one row above it.
    EXPECT_EQ(-325, move_cutoff(-300, 'Z', delta, -366, 11000));
    EXPECT_EQ(449, move_cutoff(42, 'W', delta, -366, 11000));
    EXPECT_EQ(11000, move_cutoff(10990, 'w', delta, -366, 11000));

    // With less than one unit per row a step from a negative level truncates
    // back to where it was.
    EXPECT_EQ(-5, move_baseline(-5, 'z', 0.5, -100, 100));
    // Levels are 16-bit: a display beyond that range pins them.
    EXPECT_EQ(32767, to_level(1e9));
    EXPECT_EQ(-32768, to_level(-1e9));
}

TEST(Levels, NegativeFittingWidthRunsPeakfinderWithTheChosenLevels) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("korax_levels_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    store().reset();
    testing::set_geometry(800, 540, 30);
    // A line up and its mirror image down: the mean is 0, the extremes +-9990,
    // the limits -10989 and 10989, so one pixel row is 21978 / 539 = 40.776.
    testing::load_spectrum(2000, 1000.0, 0.5, [](std::int32_t i) {
        const double up = 10000 - 40 * (i - 403.5) * (i - 403.5);
        const double down = 10000 - 40 * (i - 1603.5) * (i - 1603.5);
        return static_cast<std::int32_t>(std::max(0.0, up) - std::max(0.0, down));
    });
    store().FNAME = (dir / "spec.001").string();
    TestWindow w;
    ViewerState v;
    lookfm_entry(v);

    w.type("-9");
    w.keys("Zw\r"); // baseline 0 -> trunc(-40 - 366.98) = -406 -> -365
    w.keys("W\r");  // cutoff trunc(-365 + 407.76) = 42 -> trunc(82 + 366.98) = 448
    w.type("1");
    w.type("peaks.txt");
    w.type("");
    key_fitting_width(v);
    EXPECT_EQ(9, v.NFIT);

    std::ifstream in(dir / "peaks.txt", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_NE(std::string::npos,
              text.str().find("   cutoff:      448                    fitting width:    9\r\n"
                              " baseline:     -365\r\n"))
        << text.str();
    // One line above the cutoff: the one pointing up.
    EXPECT_NE(std::string::npos, text.str().find("Total number of identified lines =        1"));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace korax

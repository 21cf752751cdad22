// Line measurement: O on lines up and down and on expanded displays, its
// refusals, 9 and =, and the rules behind them.
#include "viewer/measure.h"

#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/commands.h"
#include "viewer/lookfm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace korax {
namespace {

// 2000 points from 1000 in steps of 0.5. A line y = 10000 - 40 (i - 403.5)^2
// (integer at every point, 9990 at 403 and 404) and its mirror image pointing
// down at point 1603.5, so that the mean is exactly 0. The first display shows
// points 1..800 with the cursor at point 401.
std::int32_t two_lines(std::int32_t i, double sign) {
    const double up = 10000 - 40 * (i - 403.5) * (i - 403.5);
    const double down = 10000 - 40 * (i - 1603.5) * (i - 1603.5);
    return static_cast<std::int32_t>(sign * std::max(0.0, up) - sign * std::max(0.0, down));
}

class Measure : public ::testing::Test {
  protected:
    void SetUp() override {
        store().reset();
        testing::set_geometry(800, 540, 30);
        measurement_memory() = MeasurementMemory{};
    }
    void enter(double sign = 1) {
        testing::load_spectrum(2000, 1000.0, 0.5,
                               [sign](std::int32_t i) { return two_lines(i, sign); });
        lookfm_entry(v);
    }
    TestWindow w;
    ViewerState v;
};

TEST_F(Measure, LinesPointingUpAndDown) {
    // By hand: vertex at point 403.5, frequency 1201.25; half height 5000 is
    // crossed between 392 (4710) and 393 (5590) at 392 + 290/880 and between
    // 414 and 415 at 414 + 590/880: 22.3409 points, FWHH 11.1705.
    for (double sign : {1.0, -1.0}) {
        SetUp();
        enter(sign);
        ASSERT_EQ(1, v.IXEXP);
        ASSERT_EQ(0, v.YMEAN);
        key_measure(v);
        const std::string intensity = sign > 0 ? "    10000.00" : "   -10000.00";
        EXPECT_EQ(" Fitted peak frequency:      1201.2500 +- 0.0000         Intensity:" + intensity,
                  w.row(1));
        EXPECT_EQ("      Halfwidth (FWHH):        11.1705                 Data points:        7",
                  w.row(2));
        EXPECT_NEAR(1201.25, measurement_memory().FLAST, 1e-5);
        EXPECT_TRUE(v.STALE);
    }
}

TEST_F(Measure, ExpandedDisplayMeasuresTheInterpolatedPoints) {
    enter();
    // Zoom in about the cursor until the display is interpolated.
    for (char key : std::string("EEE"))
        ASSERT_TRUE(lookfm_key(v, key));
    ASSERT_GT(v.IXEXP, 1);
    key_measure(v);
    EXPECT_NE(std::string::npos, w.row(1).find("Fitted peak frequency:")) << w.row(1);
    EXPECT_NEAR(1201.25, measurement_memory().FLAST, 0.01);
    const std::string expansion =
        "Data points:   7 *" + std::string(v.IXEXP < 10 ? "  " : " ") + std::to_string(v.IXEXP);
    EXPECT_NE(std::string::npos, w.row(2).find(expansion)) << w.row(2);
}

TEST_F(Measure, RefusalsChangeNothing) {
    enter();
    measurement_memory().FLAST = 77;
    v.NFIT = 3;
    key_measure(v);
    EXPECT_EQ(" ERROR: 3 point width allowed onlyon expanded data: increase X-expansion", w.row(1));
    EXPECT_EQ("", w.row(2));
    EXPECT_EQ(77, measurement_memory().FLAST);

    // Near the start the flat floor is followed down to point 2; seven points
    // about it reach beyond point 1.
    v.NFIT = 7;
    v.FCURS = 1001;
    v.ICURS = 3;
    key_measure(v);
    EXPECT_EQ(" ERROR: fitting interval exceeds data bounds", w.row(1));
    EXPECT_EQ("", w.row(2));
    EXPECT_EQ(77, measurement_memory().FLAST);

    // A flat stretch under the cursor has no vertex.
    v.NFIT = 7;
    v.FCURS = 1000 + 0.5 * 99;
    v.ICURS = 100;
    key_measure(v);
    EXPECT_EQ(" ERROR: line fit failed (no curvature)", w.row(1));
    EXPECT_EQ(77, measurement_memory().FLAST);
}

TEST_F(Measure, TooManyExpandedPoints) {
    enter();
    for (char key : std::string("EE"))
        ASSERT_TRUE(lookfm_key(v, key));
    ASSERT_GT(v.IXEXP, 1);
    v.NFIT = static_cast<std::int16_t>(501 / v.IXEXP + 1) | 1;
    key_measure(v);
    EXPECT_EQ(" ERROR: Too many points for peak measurement: reduce X-expansion", w.row(1));
}

TEST_F(Measure, CursorAsMeasurementAndAverage) {
    enter();
    auto& m = measurement_memory();
    // Right after the start the memory holds zeros.
    key_average(v);
    EXPECT_EQ("    Average frequency =         0.0000 +- 0.0000           Line1 =       0.0000",
              w.row(1));
    EXPECT_EQ(" Difference frequency =         0.0000 +- 0.0000           Line2 =       0.0000",
              w.row(2));

    key_measure(v);
    key_average(v); // half the frequency, and the frequency itself as difference
    EXPECT_EQ("    Average frequency =       600.6250 +- 0.0000           Line1 =    1201.2500",
              w.row(1));

    // Cursor half-way between points 400 and 401 (1199.75); the nearest is 401,
    // intensity 10000 - 40 * 2.5^2 = 9750.
    key_cursor_as_measurement(v);
    EXPECT_EQ("    Cursor frequency =      1199.7500  taken as measured frequency", w.row(1));
    EXPECT_EQ("    Cursor ordinate  =      9750.0000  taken as new baseline level", w.row(2));
    EXPECT_EQ(9750, v.YMEAN);
    EXPECT_EQ(1199.75, m.FLAST);
    EXPECT_NEAR(1201.25, m.FPREV, 1e-5);
    EXPECT_EQ(0, m.ELAST);

    key_average(v);
    EXPECT_EQ(" Difference frequency =         1.5000 +- 0.0000           Line2 =    1201.2500",
              w.row(2));

    // The next measurement is against the new level: the line is 250 above it.
    // (The cursor must stand above that level, or O looks for a minimum.)
    v.FCURS = 1201;
    v.ICURS = 403;
    key_measure(v);
    EXPECT_NE(std::string::npos, w.row(1).find("Intensity:      250.00")) << w.row(1);
}

// The numbers of a row after its label, read as free-format text.
std::vector<double> numbers_after(const std::string& row, const std::string& label) {
    const auto at = row.find(label);
    std::vector<double> found;
    if (at == std::string::npos) return found;
    std::istringstream in(row.substr(at + label.size()));
    for (std::string word; in >> word;) {
        char* end = nullptr;
        const double v = std::strtod(word.c_str(), &end);
        if (end != word.c_str() && *end == '\0') found.push_back(v);
    }
    return found;
}

TEST_F(Measure, ErrorsOfAFineAxisKeepTheirDigitsInTheRows) {
    // The line pointing up, with a little noise, on a wavenumber axis of step
    // 1e-7 near 2000 cm-1: an error of about a hundredth of a point, 1e-9,
    // which the rows' 4 decimals would show as 0.0000.
    testing::load_spectrum(2000, 2000.0, 1e-7,
                           [](std::int32_t i) { return two_lines(i, 1) + (i * i * 31 % 17) - 8; });
    lookfm_entry(v);
    key_measure(v);
    const auto& m = measurement_memory();
    ASSERT_GT(m.ELAST, 0);
    ASSERT_LT(m.ELAST, 1e-8);
    const std::string row1 = w.row(1), row2 = w.row(2);
    EXPECT_EQ(0u, row1.find(" Fitted peak frequency: ")) << row1;
    const std::vector<double> fit = numbers_after(row1, "frequency:");
    ASSERT_EQ(3u, fit.size()) << row1; // frequency, error, intensity ("+-" is no number)
    EXPECT_NEAR(m.ELAST, fit[1], 0.05 * m.ELAST) << row1;
    EXPECT_NEAR(m.FLAST, fit[0], 0.05 * m.ELAST) << row1;
    EXPECT_NE(std::string::npos, row1.find("Intensity:")) << row1;
    EXPECT_EQ(std::string::npos, row1.find('*')) << row1;
    const std::vector<double> width = numbers_after(row2, "Halfwidth (FWHH):");
    ASSERT_EQ(2u, width.size()) << row2;
    EXPECT_NEAR(22.34e-7, width[0], 0.05e-7) << row2;
    EXPECT_EQ(7, width[1]) << row2;

    // = after a second measurement of the same line: the error of the
    // difference is that of both, the average the line itself.
    key_measure(v);
    key_average(v);
    const std::vector<double> average = numbers_after(w.row(1), "Average frequency =");
    ASSERT_EQ(3u, average.size()) << w.row(1) << "\n" << row1;
    EXPECT_NEAR(m.FLAST, average[0], 0.05 * m.ELAST) << w.row(1);
    EXPECT_NEAR(std::sqrt(2.0) * m.ELAST, average[1], 0.05 * m.ELAST) << w.row(1);
    EXPECT_NEAR(m.FLAST, average[2], 0.05 * m.ELAST) << w.row(1);
    const std::vector<double> difference = numbers_after(w.row(2), "Difference frequency =");
    ASSERT_EQ(3u, difference.size()) << w.row(2);
    EXPECT_EQ(0, difference[0]) << w.row(2);
    EXPECT_NEAR(m.FPREV, difference[2], 0.05 * m.ELAST) << w.row(2);
}

TEST(MeasureRules, FittingWidthAnswers) {
    struct Case {
        const char* typed;
        std::optional<std::int16_t> expected;
    } cases[] = {{"1", {}},   {"2", {}},    {"-3", {}}, {"-4", {}},     {"4", {}},
                 {"500", {}}, {"-500", {}}, {"", {}},   {"x", {}},      {"3", 3},
                 {"5", 5},    {"499", 499}, {"-5", -5}, {"-499", -499}, {"-7", -7}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, accept_fitting_width(c.typed)) << c.typed;
}

TEST(MeasureRules, ClimbStopsAtTheEnds) {
    // 1-based; element 0 unused.
    const std::vector<std::int32_t> rising = {0, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(6, climb_to_extremum(rising, 6, 3, 0));
    const std::vector<std::int32_t> falling = {0, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(1, climb_to_extremum(falling, 6, 4, 0));
    // A dip below the mean is followed down to its bottom.
    const std::vector<std::int32_t> dip = {0, 0, -1, -5, -9, -4, 0};
    EXPECT_EQ(4, climb_to_extremum(dip, 6, 2, 0));
}

} // namespace
} // namespace korax

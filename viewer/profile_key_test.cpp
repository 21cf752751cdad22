// The profile fit keys and what T assigns after each measuring key: the most
// recent measurement, an O's error made honest on interpolated points, the
// refusals of an O that T must not take, and the rows of a fit.
#include "viewer/profile_key.h"

#include "base/format.h"
#include "spectrum/store.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/catalog_keys.h"
#include "viewer/catalog_screens.h"
#include "viewer/display.h"
#include "viewer/lookfm.h"
#include "viewer/measure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace korax {
namespace {

constexpr double LINE1 = 1020.013, LINE2 = 1020.7; // two lines 14 points apart

// 4000 points from 1000 in steps of 0.05: second-derivative Lorentzian lines
// (half width 0.4 at half maximum of the undifferentiated line) of heights
// 1000 and 600 at LINE1 and LINE2, and noise of standard deviation about 10
// from a fixed sequence.
std::int32_t blend_point(std::int32_t i) {
    const double f = 1000.0 + 0.05 * (i - 1);
    double y = 0;
    for (const auto& [centre, height] : {std::pair{LINE1, 1000.0}, std::pair{LINE2, 600.0}}) {
        const double t = (f - centre) / 0.4, u = t * t + 1;
        y -= height * (3 * u - 4) / (u * u * u);
    }
    // The sum of 12 uniform numbers less 6 is close to a standard normal one.
    static std::uint64_t state = 0;
    if (i == 1) state = 12345;
    double sum = -6;
    for (int k = 0; k < 12; ++k) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        sum += double(state >> 11) * 0x1.0p-53;
    }
    return static_cast<std::int32_t>(std::lround(y + 10 * sum));
}

class ProfileKey : public ::testing::Test {
  protected:
    void SetUp() override {
        store().reset();
        testing::set_geometry(800, 540, 30);
        measurement_memory() = MeasurementMemory{};
        last_measurement() = LastMeasurement{};
        measure_note() = MeasureNote{};
        profile_key_settings() = ProfileKeySettings{};
    }
    void load(const std::function<std::int32_t(std::int32_t)>& y) {
        testing::load_spectrum(4000, 1000.0, 0.05, y);
        lookfm_entry(v);
    }
    // The cursor onto frequency f, as a click would put it.
    void cursor_to(double f) {
        v.FCURS = f;
        v.ICURS = index_of_frequency(f);
    }
    void press(char key) { ASSERT_TRUE(lookfm_key(v, key)) << key; }
    TestWindow w;
    ViewerState v;
};

TEST_F(ProfileKey, TAssignsTheMostRecentMeasurementWithAnHonestError) {
    load(blend_point);
    EXPECT_FALSE(measurement_to_assign().has_value());

    // X: both lines of the blend, the one nearest the cursor as the measurement.
    cursor_to(LINE1);
    press('X');
    ASSERT_EQ(std::string::npos, w.row(1).find("refused")) << w.row(1);
    auto fitted = measurement_to_assign(v.FCURS);
    ASSERT_TRUE(fitted);
    ASSERT_EQ(2u, fitted->components.size()) << w.row(1);
    EXPECT_NEAR(LINE1, fitted->freq, 5 * fitted->error);
    EXPECT_LT(fitted->error, 0.005);
    EXPECT_EQ(fitted->components[0].freq, fitted->freq);
    // With the cursor beside the other line, T takes that one.
    const auto other = measurement_to_assign(LINE2 + 0.1);
    ASSERT_TRUE(other);
    EXPECT_EQ(fitted->components[1].freq, other->freq);
    EXPECT_EQ(fitted->components[1].error, other->error);
    EXPECT_NEAR(LINE2, other->freq, 5 * other->error);

    // O replaces it: on the points themselves its error as it is.
    press('O');
    ASSERT_EQ(1, v.IXEXP);
    const auto o = measurement_to_assign(v.FCURS);
    ASSERT_TRUE(o);
    EXPECT_EQ(measurement_memory().FLAST, o->freq);
    EXPECT_EQ(measurement_memory().ELAST, o->error);
    EXPECT_TRUE(o->components.empty());
    EXPECT_TRUE(o->refusal.empty()) << o->refusal;
    // The same O again is a measurement too.
    press('O');
    EXPECT_TRUE(measurement_to_assign(v.FCURS));

    // On interpolated points each point counts IXEXP times.
    for (char key : std::string("EEE"))
        press(key);
    ASSERT_GT(v.IXEXP, 1);
    press('O');
    const auto zoomed = measurement_to_assign(v.FCURS);
    ASSERT_TRUE(zoomed);
    EXPECT_DOUBLE_EQ(measurement_memory().ELAST * std::sqrt(double(v.IXEXP)), zoomed->error);

    // X fits the raw points whatever the display shows, and wins again.
    press('X');
    const auto again = measurement_to_assign(v.FCURS);
    ASSERT_TRUE(again);
    EXPECT_EQ(fitted->freq, again->freq);
    EXPECT_EQ(fitted->error, again->error);

    // = averages the last two with their honest errors.
    press('=');
    const auto average = measurement_to_assign(v.FCURS);
    ASSERT_TRUE(average);
    EXPECT_DOUBLE_EQ((fitted->freq + zoomed->freq) / 2, average->freq);
    EXPECT_FLOAT_EQ(float(std::hypot(fitted->error, zoomed->error)), float(average->error));

    // A refused fit keeps nothing: T has nothing to assign, the memory stands.
    for (char key : std::string("QQQ"))
        press(key);
    const double before = measurement_memory().FLAST;
    cursor_to(1035.0);
    press('X');
    EXPECT_NE(std::string::npos, w.row(1).find("fit refused")) << w.row(1);
    EXPECT_FALSE(measurement_to_assign(v.FCURS));
    EXPECT_EQ(before, measurement_memory().FLAST);
}

TEST_F(ProfileKey, TRefusesAnOWhoseCentreLeftItsInterval) {
    // A steep rise and a long, barely curved fall: the four fits of O walk
    // down the fall and end with the vertex outside their points.
    load([](std::int32_t i) {
        const double d = i - 400;
        return static_cast<std::int32_t>(
            std::max(-20000.0, d <= 0 ? 10000 + 2000 * d : 10000 - d - 0.01 * d * d));
    });
    cursor_to(store().FREQ[400]);
    press('O');
    ASSERT_NE(std::string::npos, w.row(1).find("Fitted peak frequency:")) << w.row(1);
    const auto o = measurement_to_assign(v.FCURS);
    ASSERT_TRUE(o);
    EXPECT_EQ("the centre O fitted lies outside its fitting interval", o->refusal);
    // An average with it is refused as well.
    press('9');
    press('=');
    EXPECT_EQ(o->refusal, measurement_to_assign(v.FCURS)->refusal);
}

TEST(ProfileRows, ErrorsInTheNotationOfTheField) {
    const struct {
        double value, error;
        const char* text;
    } cases[] = {
        {240046.031884, 0.000983, "240046.03188(98)"},
        {240046.031884, 0.0012, "240046.0319(12)"},
        {12.54, 3.1, "12.5(31)"},
        {1234.4, 56, "1234(56)"},
        {1234.4, 350, "1234(350)"},
        {1.0, 0.0996, "1.00(10)"}, // the error rounds up to a third digit
        {5.0, std::numeric_limits<double>::infinity(), "5.0000(?)"},
        {-0.5, 0.25, "-0.50(25)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, with_error(c.value, c.error)) << c.value << " " << c.error;
}

TEST(ProfileRows, LinesThatDoNotFitTheFirstRowGoOnTheSecond) {
    ProfileFit fit;
    fit.shape = {LineProfile::Voigt, 2};
    for (int k = 0; k < 5; ++k)
        fit.components.push_back({240046.0 + k, 0.0012, 100, 5, 1, {}, {}, 0, {}});
    fit.widths = {0.12, 0.85};
    fit.width_errors = {0.034, 0.0073};
    fit.reduced_chi_square = 1.034;
    fit.residual_rms = 11.5;
    ProfileFitSettings settings;
    settings.shape = fit.shape;
    settings.components = 5;
    const auto rows = profile_result_rows(fit, settings);
    EXPECT_EQ(" voigt2 blend:  240046.0000(12)  240047.0000(12)  240048.0000(12)", rows[0]);
    EXPECT_EQ(" 240049.0000(12)  240050.0000(12)  FWHM G 0.120(34) L 0.8500(73)  chi2 1.03",
              rows[1]);
    // One line leaves room for all of it.
    fit.components.resize(1);
    settings.components = 0;
    EXPECT_EQ((std::array<std::string, 2>{
                  " voigt2 fit:  240046.0000(12)  height 100.0(50)",
                  " FWHM G 0.120(34) L 0.8500(73)  chi2 1.03  rms 11.50  baseline 1, lines auto"}),
              profile_result_rows(fit, settings));
    // Its flags go with its frequency.
    fit.components[0].flags.saturated = true;
    fit.components[0].flags.edge = true;
    EXPECT_EQ(" voigt2 fit:  240046.0000(12) [saturated edge]  height 100.0(50)",
              profile_result_rows(fit, settings)[0]);
}

} // namespace
} // namespace korax

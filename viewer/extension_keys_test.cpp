// The extension keys: copying a measurement, the title, pictures, clicks, the
// close question and the page that lists them.
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/close_question.h"
#include "viewer/command_guard.h"
#include "viewer/extension_keys.h"
#include "viewer/lookfm.h"
#include "viewer/measure.h"
#include "viewer/undo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <unistd.h>

namespace korax {
namespace {

class ExtensionKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::set_geometry(800, 540, 30);
        // One line at point 401, under the cursor at entry: exp(-(d/5)^2), so
        // half height lies 5 sqrt(ln 2) = 4.163 points either side.
        testing::load_spectrum(2000, 1000.0, 0.25, [](std::int32_t i) {
            const double d = (i - 401) / 5.0;
            return static_cast<std::int32_t>(std::lround(10000 * std::exp(-d * d)));
        });
        spectrum_history().start();
        show_spectrum_state();
        lookfm_entry(v);
    }
    TestWindow tw;
    ViewerState v;
};

TEST_F(ExtensionKeys, CopyTheLastMeasurementAsTabSeparatedNumbers) {
    ASSERT_TRUE(viewer_key(v, KEY_CTRL_C));
    EXPECT_EQ("", tw.window().clipboard()) << "nothing measured yet";
    EXPECT_TRUE(tw.screen_contains("Nothing measured yet"));

    ASSERT_TRUE(viewer_key(v, 'O'));
    ASSERT_TRUE(viewer_key(v, KEY_CTRL_C));
    const std::string text = tw.window().clipboard();
    const auto tab1 = text.find('\t'), tab2 = text.rfind('\t');
    ASSERT_NE(tab1, tab2) << text;
    EXPECT_EQ("1100.0000", text.substr(0, tab1));
    EXPECT_NEAR(0, std::stod(text.substr(tab1 + 1)), 0.01) << "the error of the fit";
    EXPECT_NEAR(2 * 4.163 * 0.25, std::stod(text.substr(tab2 + 1)), 0.02);
    EXPECT_TRUE(tw.screen_contains(" Copied: 1100.0000 "));
}

TEST(CopiedMeasurement, NumbersKeepTheDigitsOfTheError) {
    const struct {
        double frequency, error;
        std::optional<double> fwhh;
        const char* text;
    } cases[] = {
        {240046.031884, 0.000983, 0.26, "240046.03188\t0.00098\t0.26000"},
        {240046.031884, 0.0012, 0.26, "240046.0319\t0.0012\t0.2600"},
        {240046.031884, 0.000060, std::nullopt, "240046.031884\t0.000060\t-"},
        // A wavenumber axis of step 1e-7: 0.016 points.
        {2000.0000402473, 1.6e-9, 2.234e-6, "2000.0000402473\t0.0000000016\t0.0000022340"},
        // No error (the 9 key): the 4 decimals of the rows.
        {499.5, 0, 0.25, "499.5000\t0.0000\t0.2500"},
    };
    for (const auto& c : cases) {
        LastMeasurement m;
        m.valid = true;
        m.FPEAK = c.frequency;
        m.FPERR = c.error;
        m.FWHH = c.fwhh;
        EXPECT_EQ(c.text, measurement_text(m)) << c.frequency << " +- " << c.error;
    }
}

TEST_F(ExtensionKeys, TitleShowsUnsavedChangesUntilUndoneOrSaved) {
    EXPECT_EQ("KORAX - spectrum.001", tw.window().title());
    ASSERT_TRUE(viewer_key(v, '-'));
    EXPECT_EQ("KORAX - spectrum.001 (modified)", tw.window().title());
    ASSERT_TRUE(viewer_key(v, 'U'));
    EXPECT_EQ("KORAX - spectrum.001", tw.window().title());
    ASSERT_TRUE(viewer_key(v, 'Y'));
    EXPECT_EQ("KORAX - spectrum.001 (modified)", tw.window().title());

    // Saved under another name, the spectrum is that file's.
    const std::string name = "korax-title-" + std::to_string(::getpid()) + ".001";
    tw.type("/tmp/" + name);
    tw.type(""); // the ENTER after the report
    ASSERT_TRUE(viewer_key(v, 'M'));
    std::filesystem::remove("/tmp/" + name);
    EXPECT_EQ("KORAX - " + name, tw.window().title());
    EXPECT_EQ("/tmp/" + name, store().FNAME);
    EXPECT_EQ("KORAX", spectrum_title("", false));
    EXPECT_EQ("KORAX - b.001 (modified)", spectrum_title("data/a/b.001   ", true));
}

TEST_F(ExtensionKeys, PicturesGoBesideTheSpectrumAndNeverReplaceAFile) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("korax-png-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    store().FNAME = (folder / "spec.001").string();
    std::ofstream(folder / "spec.001-1.png") << "not mine";

    ASSERT_TRUE(viewer_key(v, KEY_CTRL_P));
    ASSERT_TRUE(viewer_key(v, KEY_CTRL_P));
    std::ifstream kept(folder / "spec.001-1.png");
    EXPECT_EQ("not mine", std::string(std::istreambuf_iterator<char>(kept), {}));
    for (const char* name : {"spec.001-2.png", "spec.001-3.png"}) {
        std::ifstream png(folder / name, std::ios::binary);
        std::string head(8, '\0');
        png.read(head.data(), 8);
        EXPECT_EQ("\x89PNG\r\n\x1a\n", head) << name;
    }
    EXPECT_TRUE(tw.screen_contains(" Picture written to " + (folder / "spec.001-3.png").string()));
    EXPECT_EQ(3, std::distance(fs::directory_iterator(folder), fs::directory_iterator()))
        << "no temporaries left";

    // A folder that cannot take the file: an honest row, and nothing written.
    store().FNAME = (folder / "missing" / "spec.001").string();
    ASSERT_TRUE(viewer_key(v, KEY_CTRL_P));
    EXPECT_TRUE(tw.screen_contains(" Picture NOT written: " +
                                   (folder / "missing" / "spec.001-1.png").string()));
    EXPECT_FALSE(write_picture("x", {}).written) << "no picture from a failed encoding";
    fs::remove_all(folder);
}

TEST_F(ExtensionKeys, ClicksInsideThePlotAreaOnly) {
    // The plot area of 800 x 540 with rows of 19 pixels: columns 2 to 797,
    // pixel rows 36 to 503.
    struct Click {
        int x, y;
        std::optional<double> f;
    };
    const Click clicks[] = {
        {2, 100, 0.0},           {797, 100, 795.0},        {401, 36, 399.0},
        {401, 503, 399.0},       {1, 100, std::nullopt},   {798, 100, std::nullopt},
        {401, 35, std::nullopt}, {401, 504, std::nullopt},
    };
    for (const Click& c : clicks)
        EXPECT_EQ(c.f, frequency_at_pixel(c.x, c.y, 0.0, 795.0)) << c.x << "," << c.y;
}

TEST(CloseQuestion, FitsTheRowWhateverTheName) {
    EXPECT_EQ(" Unsaved changes to ocs.001 will be lost. Close anyway (Y/N)? ",
              close_question_text("examples/ocs.001  "));
    const std::string long_name = std::string(40, 'a') + "-recorded-2026.001";
    const std::string q = close_question_text("/data/" + long_name);
    EXPECT_EQ(80u, q.size());
    EXPECT_EQ(" Unsaved changes to ...aaaa-recorded-2026.001 will be lost.", q.substr(0, 59));
}

TEST(ExtensionPage, FitsTheShortWindowAndIsReachedFromHelp) {
    // More keys than a 17-row window holds: the first page waits for ENTER
    // on its last row, as the help screen does there.
    {
        TestWindow tw(800, 540, 17);
        tw.window().set_text_position(1, 1);
        tw.keys("j?");
        EXPECT_THROW(wait_after_help(), RunEnded);
        EXPECT_EQ("_____E X T E N S I O N   K E Y S" + std::string(48, '_'), tw.row(2));
        EXPECT_EQ("         U,Y - undo / redo the last change of the spectrum (8 steps)",
                  tw.row(4));
        EXPECT_EQ("               Press ENTER", tw.row(17));
    }
    TestWindow tw(800, 540, 17);
    tw.window().set_text_position(1, 1);
    tw.keys("j?");
    tw.type("");
    tw.type("");
    wait_after_help();
    EXPECT_EQ("       ENTER - exits this page", tw.row(17));
    EXPECT_TRUE(tw.front_end.keys.empty());
    // In 30 rows it is one page from its heading to its last line.
    TestWindow tall(800, 540, 30);
    tall.window().set_text_position(1, 1);
    tall.keys("?");
    tall.type("");
    wait_after_help();
    EXPECT_EQ("_____E X T E N S I O N   K E Y S" + std::string(48, '_'), tall.row(2));
    EXPECT_TRUE(tall.screen_contains("         <,> - open a reference spectrum"));
    EXPECT_TRUE(tall.screen_contains("       ENTER - exits this page"));
    EXPECT_TRUE(tall.front_end.keys.empty());
}

} // namespace
} // namespace korax

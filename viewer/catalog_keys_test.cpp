// The catalogue keys inside the viewer: catalogues named on the command line,
// the unchanged picture without catalogues, jumps that move the display, and
// picking one of several predictions within the tolerance.
#include "viewer/catalog_keys.h"

#include "base/format.h"
#include "testing/test_catalog_file.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/command_guard.h"
#include "viewer/display.h"
#include "viewer/extension_keys.h"
#include "viewer/lookfm.h"
#include "viewer/measure.h"
#include "window/inkey.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

class CatalogKeys : public ::testing::Test {
  protected:
    TestWindow tw;
    fs::path dir;
    ViewerState v;
    SessionStart start;
    void SetUp() override {
        testing::set_geometry(800, 540, 30);
        testing::load_spectrum(3000, 100.0, 1.0, [](std::int32_t i) { return i % 100; });
        catalog_session() = CatalogSession{};
        dir = fs::temp_directory_path() /
              ("korax_catalog_keys_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        catalog_session() = CatalogSession{};
        fs::remove_all(dir);
    }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
};

TEST_F(CatalogKeys, WithoutCataloguesThePictureIsAsAlways) {
    lookfm_entry(v, start);
    EXPECT_EQ(trim_right(key_line().substr(0, 39)), trim_right(tw.row(30).substr(0, 39)));
    const std::string before = tw.row(1);
    ASSERT_TRUE(lookfm_key(v, ']'));
    EXPECT_TRUE(tw.screen_contains("No line catalogue is open: C opens one"));
    EXPECT_DOUBLE_EQ(499.5, v.FCURS) << "the cursor stays";
    // Opening something that is not a catalogue leaves the viewer as it was.
    write("spectrum.txt", "comment\n240000.0 12\n");
    tw.keys("C");
    tw.type((dir / "spectrum.txt").string());
    tw.type("");     // ENTER after the message
    tw.keys("\x1b"); // Esc leaves the prompt; ENTER alone would open the box
    ASSERT_TRUE(viewer_key(v, INKEY()));
    EXPECT_TRUE(catalog_session().catalogs.empty());
    EXPECT_EQ(trim_right(key_line().substr(0, 39)), trim_right(tw.row(30).substr(0, 39)));
}

TEST_F(CatalogKeys, CommandLineCataloguesOpenAtTheFirstView) {
    start.catalogs = {write("a.cat", testing::prediction_line(300.0, 5, -3) +
                                         testing::prediction_line(1500.0, 6, -2)),
                      (dir / "missing.cat").string()};
    // Lines already in the assignment file are marked as they are opened.
    catalog_session().settings.lin_path =
        write("a.lin", "  6  0  6  5  0  5                        300.0100 0.01 1\n"
                       "  7  0  7  6  0  6  0  0  1  0  0  0   1500.01 0.01 1\nnot a record\n");
    lookfm_entry(v, start);
    ASSERT_EQ(1u, catalog_session().catalogs.size());
    EXPECT_EQ(std::vector<std::size_t>{0}, catalog_session().assigned[0]);
    EXPECT_NE(std::string::npos, tw.row(30).find("missing.cat cannot be opened"));
    // The next redraw identifies the prediction nearest to the cursor.
    ASSERT_TRUE(lookfm_key(v, 'l'));
    EXPECT_EQ("1:     300.0000 +- 0.0100  lg -3.0000  6 0 6 <- 5 0 5", trim_right(tw.row(30)));
    // Opened once per run, not at every entry.
    ViewerState again;
    lookfm_entry(again, start);
    EXPECT_EQ(1u, catalog_session().catalogs.size());

    // ] to a line beyond the display moves the display, keeping its width.
    const double width = v.FHIGH - v.FLOW;
    ASSERT_TRUE(lookfm_key(v, ']'));
    EXPECT_DOUBLE_EQ(1500.0, v.FCURS);
    EXPECT_LT(v.FLOW, 1500.0);
    EXPECT_GT(v.FHIGH, 1500.0);
    EXPECT_NEAR(width, v.FHIGH - v.FLOW, 1.0);
    ASSERT_TRUE(lookfm_key(v, ']'));
    EXPECT_TRUE(tw.screen_contains("No predicted line above the cursor"));
    ASSERT_TRUE(lookfm_key(v, '['));
    EXPECT_DOUBLE_EQ(300.0, v.FCURS);
    // V hands the row back to the key line.
    ASSERT_TRUE(lookfm_key(v, 'V'));
    EXPECT_EQ(trim_right(key_line().substr(0, 39)), trim_right(tw.row(30).substr(0, 39)));
}

TEST_F(CatalogKeys, SeveralPredictionsWithinTheToleranceAreOffered) {
    start.catalogs = {write("b.cat", testing::prediction_line(500.0, 5, -3) +
                                         testing::prediction_line(500.4, 7, -4))};
    auto& settings = catalog_session().settings;
    settings.fixed_unc = 0.02;
    settings.lin_path = (dir / "b.lin").string();
    lookfm_entry(v, start);
    ASSERT_TRUE(lookfm_key(v, '9')); // the cursor, 499.5, as the measurement
    tw.type("x");                    // not a number: asked again
    tw.type("3");                    // not on the list: asked again
    tw.type("2");
    ASSERT_TRUE(lookfm_key(v, 'T'));
    std::ifstream lin(settings.lin_path, std::ios::binary);
    const std::string record(std::istreambuf_iterator<char>(lin), {});
    ASSERT_EQ(record.size() - 2, record.find("\r\n")) << "one record";
    EXPECT_EQ("  8  0  8  7  0  7                          499.5000      0.020   1.0000",
              record.substr(0, 72));
    EXPECT_TRUE(tw.screen_contains("Assigned in"));
    EXPECT_EQ(std::vector<std::size_t>{1}, catalog_session().assigned[0]);
    // Ctrl+C copies the measurement with the record assigned from it.
    LastMeasurement copied;
    copied.valid = true;
    copied.FPEAK = 499.5;
    copied.YPEAK = 100.0;
    copied.FWHH = 0.25;
    last_measurement() = copied;
    ASSERT_TRUE(viewer_key(v, KEY_CTRL_C));
    last_measurement() = LastMeasurement{};
    EXPECT_EQ("499.5000\t0.0000\t0.2500\n" + record.substr(0, record.size() - 2),
              tw.window().clipboard());
}

} // namespace
} // namespace korax

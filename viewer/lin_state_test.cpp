// The assignment file known before the first T, inside the viewer: --lin marks
// the catalogues named with --catalog at the first plot, a --lin that is no
// assignment file is named on the bottom row, and a saved settings file gives
// D's values and the folder's file, which is not written again unchanged.
#include "viewer/lin_state.h"

#include "catalog/catalog_state.h"
#include "spectrum/store.h"
#include "testing/test_catalog_file.h"
#include "testing/test_spectrum.h"
#include "testing/test_window.h"
#include "viewer/catalog_keys.h"
#include "viewer/lookfm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

class LinState : public ::testing::Test {
  protected:
    TestWindow tw;
    ViewerState v;
    SessionStart start;
    fs::path dir;
    void SetUp() override {
        testing::set_geometry(800, 540, 30);
        testing::load_spectrum(3000, 100.0, 1.0, [](std::int32_t i) { return i % 100; });
        dir = fs::temp_directory_path() / ("korax_lin_state_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        store().FNAME = (dir / "spec.001").string();
        catalog_session() = CatalogSession{};
        // Two catalogues; 6 0 6 <- 5 0 5 first in the first, 8 0 8 <- 7 0 7 in the second.
        start.catalogs = {
            write("a.cat", testing::prediction_line(300.0, 5) + testing::prediction_line(400.0, 6)),
            write("b.cat",
                  testing::prediction_line(500.0, 7) + testing::prediction_line(600.0, 8))};
    }
    void TearDown() override {
        catalog_session() = CatalogSession{};
        fs::remove_all(dir);
    }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
    // Another program's file: a comment, blank lines, CR LF, no end at the last.
    std::string other_lin() {
        return write("other.lin", "! earlier work\r\n\r\n"
                                  "  6  0  6  5  0  5                        300.0100 0.01 1\r\n"
                                  "   \r\n"
                                  "  8  0  8  7  0  7                        500.0100\t0.01");
    }
};

TEST_F(LinState, LinMarksTheStartupCataloguesAndTIsNotYetFreeToWrite) {
    start.lin = other_lin();
    lookfm_entry(v, start);
    auto& s = catalog_session();
    ASSERT_EQ(2u, s.catalogs.size());
    EXPECT_EQ(std::vector<std::size_t>{0}, s.assigned[0]);
    EXPECT_EQ(std::vector<std::size_t>{0}, s.assigned[1]);
    EXPECT_EQ("; 1 assigned in other.lin", assigned_summary(1));
    // An existing file from the command line waits for the yes of the first T.
    EXPECT_FALSE(lin_file_ready());
    lin_file_chosen(s.settings.lin_path);
    EXPECT_TRUE(lin_file_ready());
}

// A blank line of the file is no record: read as one it would mark the
// transition whose quantum numbers are all 0.
TEST_F(LinState, BlankLinesOfTheFileMarkNothing) {
    char zeros[128];
    std::snprintf(zeros, sizeof zeros,
                  "%13.4f%8.4f%8.4f%2d%10.4f%3d%7d%4d%2d%2d%2d      %2d%2d%2d\n", 700.0, 0.01, -3.0,
                  3, 1.0, 3, 99001, 303, 0, 0, 0, 0, 0, 0);
    start.catalogs = {write("z.cat", zeros)};
    start.lin = other_lin();
    lookfm_entry(v, start);
    ASSERT_EQ(1u, catalog_session().catalogs.size());
    EXPECT_TRUE(catalog_session().assigned[0].empty());
}

TEST_F(LinState, ALinThatIsNoAssignmentFileIsNamedAndNotUsed) {
    start.lin = write("notes.lin", "some notes\n");
    lookfm_entry(v, start);
    EXPECT_EQ("", catalog_session().settings.lin_path);
    EXPECT_NE(std::string::npos,
              tw.row(30).find("notes.lin: not an assignment file: line 1 is neither"));
}

TEST_F(LinState, SavedSettingsAndTheFolderFileAreTakenAtTheFirstPlot) {
    start.state_file = (dir / "state" / "korax" / "settings").string();
    CatalogState saved;
    saved.settings.tolerance = 0.25;
    saved.settings.equal_weights = true;
    remember_folder(saved, dir.string() + "/", other_lin());
    ASSERT_TRUE(write_state_file(start.state_file, saved).written);
    const auto written = fs::last_write_time(start.state_file);

    lookfm_entry(v, start);
    auto& s = catalog_session();
    EXPECT_EQ(0.25, s.settings.tolerance);
    EXPECT_TRUE(s.settings.equal_weights);
    EXPECT_EQ((dir / "other.lin").string(), s.settings.lin_path);
    EXPECT_EQ(std::vector<std::size_t>{0}, s.assigned[1]);
    EXPECT_FALSE(lin_file_ready());
    // Nothing changed: the file is left alone; a change rewrites it.
    save_catalog_state();
    EXPECT_EQ(written, fs::last_write_time(start.state_file));
    s.settings.weight = 0.5;
    save_catalog_state();
    EXPECT_EQ(0.5, read_state_file(start.state_file).state.settings.weight);
    EXPECT_EQ(saved.folders, read_state_file(start.state_file).state.folders);
}

} // namespace
} // namespace korax

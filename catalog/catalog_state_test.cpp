// The settings kept between runs: every value and every folder's file read back
// as written (awkward names too), damaged files ignored with their reason, the
// folder table and the file both bounded, the file's place, and its writer in
// the fault table of every writer.
#include "catalog/catalog_state.h"

#include "base/file_faults.h"
#include "output/write_faults.h"
#include "testing/test_window.h"
#include "window/window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

const std::string HEAD = "# korax catalogue settings, rewritten by the program\n";

TEST(CatalogState, EverySettingAndFolderReadsBackAsWritten) {
    CatalogState s;
    s.settings.tolerance = 0.123456789012345;
    s.settings.threshold = -7.25;
    s.settings.fixed_unc = 6e-5;
    s.settings.weight = 0.5;
    s.settings.equal_weights = true;
    // Names with blanks, a tab, a line end, a backslash and bytes past ASCII.
    s.folders = {{"/data/run 1/", "/data/run 1/ocs.lin"},
                 {"/data/a\tb\nc\\d/", "/data/a\tb\nc\\d/x.lin"},
                 {"/data/\xc3\xa9t\xc3\xa9/", "/x/\x7f.lin"}};
    const std::string text = format_state(s);
    const StateRead back = parse_state(text);
    ASSERT_EQ("", back.error);
    EXPECT_EQ(s.settings.tolerance, back.state.settings.tolerance);
    EXPECT_EQ(s.settings.threshold, back.state.settings.threshold);
    EXPECT_EQ(s.settings.fixed_unc, back.state.settings.fixed_unc);
    EXPECT_EQ(s.settings.weight, back.state.settings.weight);
    EXPECT_TRUE(back.state.settings.equal_weights);
    EXPECT_EQ(s.folders, back.state.folders);
    // Every line is one setting: the encoded names hold no line end or tab
    // but the one between folder and file.
    EXPECT_EQ(HEAD + "tolerance 0.123456789012345\nthreshold -7.25\nfixed_uncertainty 6e-05\n"
                     "weight 0.5\nequal_weights 1\n"
                     "folder /data/run 1/\t/data/run 1/ocs.lin\n"
                     "folder /data/a\\x09b\\x0ac\\x5cd/\t/data/a\\x09b\\x0ac\\x5cd/x.lin\n"
                     "folder /data/\xc3\xa9t\xc3\xa9/\t/x/\\x7f.lin\n",
              text);
}

TEST(CatalogState, DamagedFilesAreIgnoredWithTheirLine) {
    const struct {
        std::string text, error;
    } cases[] = {
        {"", "line 1: the file is empty"},
        {"tolerance 1\n", "line 1: not a settings file of this program"},
        {HEAD + "tolerance 0\n", "line 2: a value that cannot be used"},
        {HEAD + "tolerance -1\n", "line 2: a value that cannot be used"},
        {HEAD + "weight 1x\n", "line 2: a value that cannot be used"},
        {HEAD + "weight inf\n", "line 2: a value that cannot be used"},
        {HEAD + "fixed_uncertainty -0.1\n", "line 2: a value that cannot be used"},
        {HEAD + "threshold 1e7\n", "line 2: a value that cannot be used"},
        {HEAD + "equal_weights yes\n", "line 2: a value that cannot be used"},
        {HEAD + "weight 2\ntolerance\n", "line 3: not a setting"},
        {HEAD + " tolerance 1\n", "line 2: not a setting"},
        {HEAD + "folder /a/ /a/x.lin\n", "line 2: a value that cannot be used"},
        {HEAD + "folder /a/\t\n", "line 2: a value that cannot be used"},
        {HEAD + "folder /a\\x4/\t/b\n", "line 2: a value that cannot be used"},
        {HEAD + "folder /a\\/\t/b\n", "line 2: a value that cannot be used"},
        {HEAD + "folder /a\r/\t/b\n", "line 2: a value that cannot be used"},
        {HEAD + std::string(MAX_STATE_BYTES, '#'), "line 1: the file is longer than 8192 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        const StateRead r = parse_state(c.text);
        EXPECT_EQ(c.error, r.error);
        // Nothing of a damaged file is used.
        EXPECT_EQ(1.0, r.state.settings.tolerance);
        EXPECT_EQ(1.0, r.state.settings.weight);
        EXPECT_TRUE(r.state.folders.empty());
    }
    // A later version's setting is passed over; a file of defaults is fine.
    const StateRead later = parse_state(HEAD + "colour_of_sticks 3\nweight 2");
    EXPECT_EQ("", later.error);
    EXPECT_EQ(2.0, later.state.settings.weight);
}

TEST(CatalogState, TheFolderTableAndTheFileStayBounded) {
    CatalogState s;
    for (int i = 0; i < 40; ++i)
        remember_folder(s, "/f" + std::to_string(i) + "/", "/f" + std::to_string(i) + "/a.lin");
    // The same folder again moves to the front with its new file.
    remember_folder(s, "/f30/", "/f30/b.lin");
    ASSERT_EQ(MAX_STATE_FOLDERS, s.folders.size());
    EXPECT_EQ((FolderFile{"/f30/", "/f30/b.lin"}), s.folders.front());
    EXPECT_EQ((FolderFile{"/f39/", "/f39/a.lin"}), s.folders[1]);
    EXPECT_EQ("/f24/a.lin", remembered_lin(s, "/f24/").value());
    EXPECT_FALSE(remembered_lin(s, "/f23/"));

    // Paths of 1000 control bytes each, 4000 bytes encoded: the oldest go so
    // that the file stays readable.
    const std::string odd(1000, '\x01');
    for (int i = 0; i < 3; ++i)
        remember_folder(s, "/" + odd + std::to_string(i) + "/", "/" + odd + ".lin");
    const std::string text = format_state(s);
    EXPECT_LT(text.size(), MAX_STATE_BYTES);
    const StateRead back = parse_state(text);
    ASSERT_EQ("", back.error);
    ASSERT_EQ(1u, back.state.folders.size());
    EXPECT_EQ(s.folders.front(), back.state.folders.front());
}

TEST(CatalogState, FileIsPlacedWrittenAndRead) {
    EXPECT_EQ("/x/state/korax/settings", state_file_path("/x/state/", "/home/a"));
    EXPECT_EQ("/home/a/.local/state/korax/settings", state_file_path("relative", "/home/a"));
    EXPECT_EQ("/home/a/.local/state/korax/settings", state_file_path(nullptr, "/home/a"));
    EXPECT_EQ("", state_file_path(nullptr, nullptr));
    EXPECT_EQ("", state_file_path("", "home"));

    const fs::path dir = fs::temp_directory_path() / ("korax-state-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const std::string path = (dir / "state" / "korax" / "settings").string();
    EXPECT_FALSE(read_state_file(path).exists);
    EXPECT_EQ("", read_state_file(path).error);

    CatalogState s;
    s.settings.tolerance = 0.25;
    remember_folder(s, "/data/", "/data/ocs.lin");
    const StateWrite done = write_state_file(path, s);
    EXPECT_TRUE(done.written) << done.text;
    struct stat st {};
    ASSERT_EQ(0, ::stat((dir / "state" / "korax").c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    const StateRead back = read_state_file(path);
    EXPECT_EQ("", back.error);
    EXPECT_EQ(0.25, back.state.settings.tolerance);
    EXPECT_EQ(s.folders, back.state.folders);

    // A folder in the file's place, and a file past the bound, read as damaged.
    std::ofstream(path, std::ios::binary) << HEAD << std::string(20000, '#');
    EXPECT_EQ("line 1: the file is longer than 8192 bytes", read_state_file(path).error);
    fs::remove(path);
    fs::create_directory(path);
    EXPECT_EQ("not a regular file", read_state_file(path).error);
    EXPECT_FALSE(write_state_file(path, s).written);
    fs::remove_all(dir);
}

// The viewer shows the writer's text on its identification row; here it goes
// to the test window's screen, where the fault table looks for it.
TEST(CatalogState, EveryOperationOfTheWriter) {
    const fs::path dir = fs::path("/tmp") / ("ks" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    CatalogState s;
    s.settings.weight = 0.5;
    remember_folder(s, "/data/", "/data/ocs.lin");
    const std::string path = (dir / "settings").string();
    const write_faults::Writer writer{"settings",
                                      {"settings"},
                                      {},
                                      [&] {
                                          const StateWrite done = write_state_file(path, s);
                                          window().write_line(done.written ? "Settings written"
                                                                           : "Settings not saved");
                                          window().write_line(done.text);
                                      },
                                      "Settings written",
                                      HEAD + "tolerance 2\n"};
    int cases = 0;
    for (bool named : {false, true}) {
        file_faults::force_named_temporaries(named);
        cases += write_faults::check_every_fault(dir, writer);
    }
    file_faults::force_named_temporaries(false);
    fs::remove_all(dir);
    EXPECT_GT(cases, 20);
}

// The settings file is written only where it is the program's: not through a
// link (to a user's file, or even to a settings file), not over a file whose
// first line is not the header; a damaged file of ours is replaced.
TEST(CatalogState, WrittenOnlyWhereItIsOurs) {
    const fs::path dir = fs::path("/tmp") / ("kt" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "settings").string();
    CatalogState s;
    s.settings.tolerance = 0.25;
    const struct {
        const char* what;
        std::string text; // at the path, or at the link's target
        bool link;
        bool written;
        std::string_view why;
    } table[] = {
        {"a link to a user's file", "my notes\n", true, false, STATE_LINK_REFUSED},
        {"a link to a settings file", HEAD + "tolerance 2\n", true, false, STATE_LINK_REFUSED},
        {"a user's file", "tolerance 3\n", false, false, STATE_FOREIGN_KEPT},
        {"a user's file without a line end", "x", false, false, STATE_FOREIGN_KEPT},
        {"the header alone, cut short", HEAD.substr(0, 20), false, false, STATE_FOREIGN_KEPT},
        {"a damaged file of ours", HEAD + "tolerance many\n", false, true, ""},
        {"the header without its line end", HEAD.substr(0, HEAD.size() - 1), false, true, ""},
        {"an empty file", "", false, true, ""},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        const fs::path file = row.link ? dir / "mine.txt" : fs::path(path);
        std::ofstream(file, std::ios::binary) << row.text;
        if (row.link) fs::create_symlink("mine.txt", path);
        const StateWrite done = write_state_file(path, s);
        EXPECT_EQ(row.written, done.written);
        EXPECT_EQ(std::string(row.why), done.text);
        if (!row.written) {
            EXPECT_EQ(row.text, write_faults::file_bytes(file));
            EXPECT_EQ(row.link, fs::is_symlink(path));
        } else {
            EXPECT_EQ(format_state(s), write_faults::file_bytes(path));
        }
        for (const auto& e : fs::directory_iterator(dir))
            fs::remove(e.path());
    }
    EXPECT_TRUE(write_state_file(path, s).written) << "a file that does not exist yet";
    fs::remove_all(dir);
}

} // namespace
} // namespace korax

// Window set-up from a configuration file, its notices, and the height toggle.
#include "driver/startg.h"
#include "viewer/nargr.h"

#include "driver/config_file.h"
#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

class StartgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("korax-startg-" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        set_config_source({});
        fs::remove_all(m_folder);
    }
    // Writes a configuration file with CR LF line ends, as an editor elsewhere might.
    void use_config(const std::vector<std::string>& lines) {
        const std::string path = (m_folder / "korax.cfg").string();
        std::ofstream out(path, std::ios::binary);
        for (const auto& line : lines)
            out << line << "\r\n";
        set_config_source({ConfigSource::Kind::File, path});
    }
    static std::string value(std::string label, const std::string& v) {
        label.resize(35, ' ');
        return label + v;
    }
    // Pixels of the notice's light red text in the title area.
    int red_pixels(const Window& w) const {
        int n = 0;
        for (int y = 195; y < 245; ++y)
            for (int x = 0; x < w.width(); ++x)
                n += w.canvas().pixel(x, y) == 12;
        return n;
    }

    TestWindow m_window;
    fs::path m_folder;
};

TEST_F(StartgTest, ConfiguredWindow) {
    use_config({"! KORAX", value("Width of window in pixels", "1024"),
                value("Height of window in pixels", " 600"), value("Font", "DejaVu Sans Mono"),
                value("Attribute", "   2"), "!"});
    std::int32_t found = -1;
    STARTG(found);
    EXPECT_EQ(1, found);
    EXPECT_EQ(1024, m_window.window().width());
    EXPECT_EQ(600, m_window.window().height());
    const ScreenGeometry& g = store().SCREEN;
    EXPECT_EQ(1023, g.MAXX);
    EXPECT_EQ(599, g.MAXY);
    EXPECT_EQ(30, g.NROWS);
    EXPECT_EQ(80, g.NCOLS);
    EXPECT_EQ(21, g.ROWPIX); // 599 / 30 = 19.97 -> 20, plus 1
    EXPECT_FALSE(draw_config_notice(found));
}

TEST_F(StartgTest, MissingOrUnusableFileGivesTheDefaultWindowAndANotice) {
    const auto check = [&](std::int32_t expected_found, const char* what) {
        std::int32_t found = -1;
        STARTG(found);
        EXPECT_EQ(expected_found, found) << what;
        EXPECT_EQ(799, store().SCREEN.MAXX) << what;
        EXPECT_EQ(539, store().SCREEN.MAXY) << what;
        m_window.window().set_text_background(7);
        m_window.window().clear_window();
        EXPECT_TRUE(draw_config_notice(found)) << what;
        EXPECT_GT(red_pixels(m_window.window()), 200) << what;
        EXPECT_EQ(15, m_window.window().text_row()) << what;
    };
    set_config_source({ConfigSource::Kind::File, "/nonexistent/korax.cfg"});
    check(0, "missing file");
    set_config_source({ConfigSource::Kind::None, ""});
    check(0, "no file at all");
    use_config({value("width", "wide"), value("height", "600"), value("font", "X"), "!"});
    check(1, "unreadable width");
    use_config({value("width", "1024"), value("height", "600")});
    check(1, "no closing line");

    // Names that lead to something other than a regular file: the open must
    // not wait for a writer, nor the read go on without end.
    const std::string fifo = (m_folder / "fifo.cfg").string();
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    set_config_source({ConfigSource::Kind::File, fifo});
    check(1, "a FIFO");
    set_config_source({ConfigSource::Kind::File, "/dev/urandom"});
    check(1, "an endless device");
    set_config_source({ConfigSource::Kind::File, m_folder.string()});
    check(1, "a folder");
}

TEST_F(StartgTest, FileOfMoreThan64KiBIsRefused) {
    const std::vector<std::string> settings = {value("width", "1024"), value("height", " 600"),
                                               value("font", "Mono"), "!"};
    std::size_t settings_bytes = 0;
    for (const auto& line : settings)
        settings_bytes += line.size() + 2;
    for (const std::size_t size : {std::size_t(65536), std::size_t(65537)}) {
        // Leading comment lines of 100 bytes with CR LF, then the settings.
        std::vector<std::string> lines;
        std::size_t bytes = settings_bytes;
        const auto comment = [](std::size_t length) {
            std::string line(length, '-');
            line.front() = '!';
            return line;
        };
        while (bytes + 100 <= size) {
            lines.push_back(comment(98));
            bytes += 100;
        }
        lines.push_back(comment(size - bytes - 2));
        lines.insert(lines.end(), settings.begin(), settings.end());
        use_config(lines);
        ASSERT_EQ(size, fs::file_size(m_folder / "korax.cfg"));
        std::int32_t found = -1;
        STARTG(found);
        EXPECT_EQ(1, found);
        EXPECT_EQ(size == 65536 ? 1023 : 799, store().SCREEN.MAXX) << size;
        EXPECT_EQ(size > 65536, draw_config_notice(found)) << size;
    }
}

TEST_F(StartgTest, IllegalAttributeEndsTheRunAfterEnter) {
    use_config({value("w", " 800"), value("h", " 540"), value("f", "Courier New"),
                value("a", "   1"), value("a", "  16"), "!"});
    m_window.keys("x");
    m_window.type("");
    std::int32_t found = 0;
    try {
        STARTG(found);
        FAIL() << "the run should have ended";
    } catch (const RunEnded& end) {
        EXPECT_EQ(1, end.status);
    }
    EXPECT_TRUE(m_window.front_end.held);
    EXPECT_TRUE(m_window.front_end.keys.empty());
    EXPECT_TRUE(m_window.screen_contains(
        " Extended font attribute from KORAX.CFG is   16, which is illegal (1-15 allowed)"));
    EXPECT_TRUE(m_window.screen_contains(" **** TRY AGAIN! *****"));
}

TEST_F(StartgTest, HeightToggleKeepsTheRowHeight) {
    use_config({value("w", " 800"), value("h", " 545"), value("f", "Courier New"), "!"});
    std::int32_t found = 0;
    STARTG(found);
    NARGR();
    EXPECT_EQ(306, m_window.window().height());
    EXPECT_EQ(17, m_window.window().rows());
    EXPECT_EQ(305, store().SCREEN.MAXY);
    EXPECT_EQ(17, store().SCREEN.NROWS);
    EXPECT_EQ(19, store().SCREEN.ROWPIX);
    NARGR();
    EXPECT_EQ(540, m_window.window().height());
    EXPECT_EQ(30, store().SCREEN.NROWS);
    EXPECT_EQ(800, m_window.window().width());
}

TEST(ConfigPath, FollowsTheXdgConvention) {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string saved_xdg = xdg ? xdg : "", saved_home = home ? home : "";

    ::setenv("HOME", "/home/ana", 1);
    ::setenv("XDG_CONFIG_HOME", "/etc/xdg-ana", 1);
    EXPECT_EQ("/etc/xdg-ana/korax/korax.cfg", standard_config_path());
    ::setenv("XDG_CONFIG_HOME", "relative", 1); // not absolute: ignored
    EXPECT_EQ("/home/ana/.config/korax/korax.cfg", standard_config_path());
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ("/home/ana/.config/korax/korax.cfg", standard_config_path());
    EXPECT_EQ(standard_config_path(), config_path_for_messages());
    set_config_source({ConfigSource::Kind::File, "/tmp/my.cfg"});
    EXPECT_EQ("/tmp/my.cfg", config_path_for_messages());
    set_config_source({});

    if (xdg) ::setenv("XDG_CONFIG_HOME", saved_xdg.c_str(), 1);
    if (home)
        ::setenv("HOME", saved_home.c_str(), 1);
    else
        ::unsetenv("HOME");
}

} // namespace
} // namespace korax

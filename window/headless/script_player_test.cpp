// The key-script player behind `korax --play`: when inspections act, exit
// statuses, the file box, shots and window events.
#include "window/headless/script_player.h"

#include "window/window.h"

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace korax {
namespace {

namespace fs = std::filesystem;

class ScriptPlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::temp_directory_path() /
                ("korax_player_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // Plays `script` against `program`; the exit status, with stderr in m_err.
    int play(std::string_view script, const std::function<void()>& program,
             std::string shots = {}) {
        const fs::path path = m_dir / "test.play";
        std::ofstream(path, std::ios::binary) << script;
        PlayOptions options;
        options.script = path.string();
        options.shots_dir = shots.empty() ? m_dir.string() : shots;
        std::ostringstream err;
        const int status = run_play(options, program, err);
        m_err = err.str();
        return status;
    }

    fs::path m_dir;
    std::string m_err;
};

// A small program: one screen line, then keys until it has `wanted` of them.
std::function<void()> reader(std::vector<int>& got, int wanted) {
    return [&got, wanted] {
        window().set_geometry(800, 540, 30);
        window().write_line("one");
        for (int i = 0; i < wanted; ++i) {
            got.push_back(window().get_char());
            window().write_line(i == 0 ? "two" : "three");
        }
        window().normal_exit();
    };
}

TEST_F(ScriptPlayerTest, InspectionsActWhenTheProgramNextWaits) {
    std::vector<int> got;
    // "expect three" must wait for the third request: the keys of one line are
    // handed out without looking at the screen in between.
    const int status = play("expect one\n"
                            "keys ab\n"
                            "expect three\n"
                            "screen grid\n"
                            "key home\n",
                            reader(got, 4));
    EXPECT_EQ(0, status) << m_err;
    EXPECT_EQ((std::vector<int>{'a', 'b', 0, 71}), got);

    std::ifstream dump(m_dir / "grid.txt", std::ios::binary);
    std::stringstream text;
    text << dump.rdbuf();
    std::string expected = "one\ntwo\nthree\n";
    for (int row = 4; row <= 30; ++row)
        expected += "\n";
    EXPECT_EQ(expected, text.str());
}

TEST_F(ScriptPlayerTest, StatusRules) {
    const struct {
        std::string_view script;
        int wanted_keys;
        int status;
        std::string_view message_part;
    } table[] = {
        // ran out while the program waits for a key
        {"keys a\n", 2, PLAY_RAN_OUT, "ran out"},
        {"", 1, PLAY_RAN_OUT, "ran out"},
        // expect failure names the line and shows the grid
        {"keys a\nexpect nowhere\nkeys b\n", 2, PLAY_EXPECT_FAILED, "test.play:2: "},
        {"expect nowhere\n", 1, PLAY_EXPECT_FAILED, "  1 |one"},
        // a box line where a key is wanted
        {"keys a\nbox x.001\n", 2, PLAY_SCRIPT_ERROR, "test.play:2: the program asked for a key"},
        // a bad line stops the run before the program starts
        {"keys a\nklick\n", 1, PLAY_SCRIPT_ERROR, "test.play:2: unknown command"},
        // after the end, inspection lines still act, up to the first input line
        {"keys a\nexpect two\n", 1, 0, ""},
        {"keys a\nexpect nowhere\n", 1, PLAY_EXPECT_FAILED, "test.play:2: "},
        {"keys a\nkeys b\nexpect nowhere\n", 1, 0, ""},
        {"keys abc\nexpect two\n", 1, 0, ""},
    };
    for (const auto& row : table) {
        std::vector<int> got;
        EXPECT_EQ(row.status, play(row.script, reader(got, row.wanted_keys))) << row.script;
        EXPECT_NE(std::string::npos, m_err.find(row.message_part))
            << row.script << "\nstderr: " << m_err;
    }
}

TEST_F(ScriptPlayerTest, FileBoxLines) {
    std::vector<std::optional<std::string>> answers;
    auto chooser = [&answers] {
        window().set_geometry(800, 540, 30);
        for (int i = 0; i < 2; ++i)
            answers.push_back(window().open_file_box(" All Files (*.*), *.*;"));
        window().normal_exit();
    };
    EXPECT_EQ(0, play("box data/my file.001 \nbox cancel\n", chooser)) << m_err;
    ASSERT_EQ(2u, answers.size());
    EXPECT_EQ("data/my file.001 ", answers[0].value());
    EXPECT_FALSE(answers[1].has_value());

    answers.clear();
    EXPECT_EQ(PLAY_SCRIPT_ERROR, play("box a\ntype b\n", chooser));
    EXPECT_NE(std::string::npos, m_err.find("test.play:2: the program opened the file-open box"));
    EXPECT_EQ(PLAY_RAN_OUT, play("box a\n", chooser));
}

TEST_F(ScriptPlayerTest, FatalEndAndUnreadableScript) {
    auto fatal = [] {
        window().set_geometry(800, 540, 30);
        window().write_line("broken");
        window().fatal_end();
    };
    EXPECT_EQ(1, play("expect broken\n", fatal)) << m_err;
    EXPECT_EQ(1, play("expect broken\ntype -1\nexpect nowhere\n", fatal)) << m_err;

    PlayOptions options;
    options.script = (m_dir / "missing.play").string();
    std::ostringstream err;
    bool ran = false;
    EXPECT_EQ(EXIT_USAGE, run_play(
                              options, [&ran] { ran = true; }, err));
    EXPECT_FALSE(ran);
}

// Reads a PNG back as RGB through libpng; also reports whether it is palette-based
// and with how many entries.
struct ReadPng {
    int width = 0, height = 0;
    bool colormapped = false;
    unsigned colormap_entries = 0;
    std::vector<png_byte> rgb;
};

ReadPng read_png(const fs::path& path) {
    ReadPng result;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return result;
    result.colormapped = (image.format & PNG_FORMAT_FLAG_COLORMAP) != 0;
    result.colormap_entries = image.colormap_entries;
    image.format = PNG_FORMAT_RGB;
    result.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, result.rgb.data(), 0, nullptr)) return result;
    result.width = static_cast<int>(image.width);
    result.height = static_cast<int>(image.height);
    return result;
}

TEST_F(ScriptPlayerTest, ShotRoundTrip) {
    Canvas drawn;
    // An odd width, so that the last byte of each row holds a single pixel.
    auto painter = [&drawn] {
        window().set_geometry(83, 30, 3);
        Canvas& c = window().canvas();
        for (int y = 0; y < c.height(); ++y)
            for (int x = 0; x < c.width(); ++x)
                c.set_pixel(x, y, static_cast<std::uint8_t>((x + 3 * y) % 16));
        c.set_pixel(82, 29, 15);
        drawn = c;
        window().get_char();
        window().normal_exit();
    };
    const fs::path shots = m_dir / "new" / "folder";
    ASSERT_EQ(
        0, play("shot picture\nshot second.png\nscreen grid.txt\nenter\n", painter, shots.string()))
        << m_err;
    EXPECT_TRUE(fs::exists(shots / "second.png"));
    EXPECT_FALSE(fs::exists(shots / "second.png.png"));
    EXPECT_TRUE(fs::exists(shots / "grid.txt"));

    const ReadPng png = read_png(shots / "picture.png");
    ASSERT_EQ(83, png.width);
    ASSERT_EQ(30, png.height);
    EXPECT_TRUE(png.colormapped);
    EXPECT_EQ(16u, png.colormap_entries);
    int mismatches = 0;
    for (int y = 0; y < png.height; ++y) {
        for (int x = 0; x < png.width; ++x) {
            const Rgb want = palette()[drawn.pixel(x, y)];
            const png_byte* got = &png.rgb[3 * (static_cast<std::size_t>(y) * 83 + x)];
            if (got[0] != want.r || got[1] != want.g || got[2] != want.b) ++mismatches;
        }
    }
    EXPECT_EQ(0, mismatches);
}

TEST_F(ScriptPlayerTest, UnwritableShotIsAScriptError) {
    std::vector<int> got;
    std::ofstream(m_dir / "plain-file") << "x";
    EXPECT_EQ(PLAY_SCRIPT_ERROR,
              play("shot x\nkeys a\n", reader(got, 1), (m_dir / "plain-file").string()));
    EXPECT_NE(std::string::npos, m_err.find("test.play:1: cannot write"));
}

TEST_F(ScriptPlayerTest, WindowEventsArriveAsTwoCodeKeysWithTheirDetails) {
    std::vector<int> got;
    Window::Point click;
    std::vector<std::optional<Window::Point>> wheels;
    std::string dropped;
    const auto program = [&] {
        window().set_geometry(800, 540, 30);
        for (int i = 0; i < 13; ++i) {
            got.push_back(window().get_char());
            if (got.back() == KEY_CLICK) click = window().last_click();
            if (got.back() == KEY_DROP) dropped = window().dropped_path();
            if (got.back() == KEY_WHEEL_UP || got.back() == KEY_WHEEL_DOWN)
                wheels.push_back(window().last_wheel());
        }
        window().normal_exit();
    };
    // The click and the notch beside the 800 x 540 picture reach nobody, as on
    // screen; a notch without a pointer is at the cursor.
    EXPECT_EQ(0, play("wheel up\nwheel down\nclick 800 10\nclick 799 539\n"
                      "wheel down 12 34\nwheel up 800 5\nwheel up\n"
                      "drop data/a b \xc3\xa9.001 \nkeys x\n",
                      program));
    EXPECT_EQ((std::vector<int>{0, KEY_WHEEL_UP, 0, KEY_WHEEL_DOWN, 0, KEY_CLICK, 0, KEY_WHEEL_DOWN,
                                0, KEY_WHEEL_UP, 0, KEY_DROP, 'x'}),
              got);
    EXPECT_EQ((std::vector<std::optional<Window::Point>>{std::nullopt, std::nullopt,
                                                         Window::Point{12, 34}, std::nullopt}),
              wheels);
    EXPECT_EQ((Window::Point{799, 539}), click);
    EXPECT_EQ("data/a b \xc3\xa9.001 ", dropped); // UTF-8 and trailing blank kept
}

// What a close does depends on who handles it; the exit status and how far
// the program got prove it.
TEST_F(ScriptPlayerTest, CloseGoesToTheHandler) {
    const struct {
        const char* name;
        std::string script;
        int handler; // -1 none, 0 answers "stay", 1 answers "end"
        int status;
        std::string trace;
    } table[] = {
        {"no handler ends the run", "keys a\nclose\nkeys b\n", -1, 0, "a"},
        {"handler keeps the run", "keys a\nclose\nkeys n\nkeys b\nkeys c\n", 0, 2, "a[n]bc"},
        {"handler ends the run", "close\nkeys y\nkeys b\n", 1, 0, "[y]"},
        {"second close during the question", "close\nclose\nkeys b\n", 0, 0, "["},
        {"close at the file-open box", "keys a\nclose\n", -1, 0, "a"},
        {"close at the box with a handler", "keys a\nclose\n", 0, 0, "a"},
        {"ran out during the question", "close\n", 0, 2, "["},
    };
    for (const auto& row : table) {
        std::string trace;
        const bool box = std::string(row.name).find("box") != std::string::npos;
        const auto program = [&] {
            window().set_geometry(800, 540, 30);
            if (row.handler >= 0) {
                window().set_close_handler([&] {
                    trace += '[';
                    // The question reads its own key; the answer does not matter here.
                    trace += static_cast<char>(window().get_char());
                    trace += ']';
                    return row.handler == 1;
                });
            }
            trace += static_cast<char>(window().get_char());
            if (box) window().open_file_box(" All Files (*.*), *.*;");
            for (;;)
                trace += static_cast<char>(window().get_char());
        };
        EXPECT_EQ(row.status, play(row.script, program)) << row.name << ": " << m_err;
        EXPECT_EQ(row.trace, trace) << row.name;
    }
}

TEST_F(ScriptPlayerTest, DropAtATypedLineStandsForTheAnswerOnlyWhenAsked) {
    std::vector<std::string> lines;
    const auto program = [&] {
        window().set_geometry(800, 540, 30);
        window().write_line("name? ", LineEnd::Stay);
        window().set_drop_as_typed_line(true);
        lines.push_back(window().read_line());
        window().set_drop_as_typed_line(false);
        lines.push_back(window().read_line());
        window().normal_exit();
    };
    EXPECT_EQ(0, play("keys abc\ndrop /data/ocs.001\nexpect name? /data/ocs.001\n"
                      "keys d\ndrop /x\ntype e\n",
                      program))
        << m_err;
    EXPECT_EQ((std::vector<std::string>{"/data/ocs.001", "de"}), lines);
}

} // namespace
} // namespace korax

// The Qt front-end's key codes, file-box patterns and picture placement.
#include "window/qt/placement.h"
#include "window/qt/qt_front_end.h"

#include "base/utf8.h"
#include "testing/test_window.h"
#include "window/inkey.h"

#include <QString>
#include <gtest/gtest.h>

namespace korax {
namespace {

TEST(QtKeys, CodesOfKeyPresses) {
    const struct {
        int key;
        const char16_t* text;
        std::vector<int> expected;
    } table[] = {
        {Qt::Key_A, u"a", {'a'}},
        {Qt::Key_A, u"A", {'A'}}, // with Shift: the text decides
        {Qt::Key_2, u"@", {'@'}}, // shifted digit on a US layout
        {Qt::Key_Eacute, u"\u00e9", {text_key(0xE9)}},
        {Qt::Key_Agrave, u"\u00e0", {text_key(0xE0)}}, // never 224
        {Qt::Key_unknown, u"\u20ac", {text_key(0x20AC)}},
        {Qt::Key_unknown, u"\U0001F600", {text_key(0x1F600)}}, // a surrogate pair in Qt
        {Qt::Key_Shift, u"", {}},
        {Qt::Key_Return, u"\r", {13}},
        {Qt::Key_Enter, u"\r", {13}}, // keypad
        {Qt::Key_Backspace, u"\b", {8}},
        {Qt::Key_Escape, u"\x1b", {27}},
        {Qt::Key_Tab, u"\t", {9}},
        {Qt::Key_Home, u"", {0, 71}},
        {Qt::Key_End, u"", {0, 79}},
        {Qt::Key_Up, u"", {0, 72}},
        {Qt::Key_Down, u"", {0, 80}},
        {Qt::Key_Left, u"", {0, 75}},
        {Qt::Key_Right, u"", {0, 77}},
        {Qt::Key_PageUp, u"", {0, 73}},
        {Qt::Key_PageDown, u"", {0, 81}},
        {Qt::Key_Insert, u"", {0, 82}},
        {Qt::Key_Delete, u"\x7f", {0, 83}}, // some platforms give DEL as text
        {Qt::Key_F1, u"", {0, 59}},
        {Qt::Key_F10, u"", {0, 68}},
        {Qt::Key_F11, u"", {}},
    };
    for (const auto& row : table) {
        EXPECT_EQ(row.expected, key_codes(row.key, QString::fromUtf16(row.text)))
            << "key " << std::hex << row.key;
    }
}

// Every Latin-1 character typed in the window, and a few beyond: as a single
// key it never yields 0 or 224 (which would swallow the next key as the second
// code of a two-code key), and in a typed answer it is its UTF-8 self.
TEST(QtKeys, CharactersReachKeyCodesAndAnswersWhole) {
    TestWindow tw;
    std::vector<char32_t> characters;
    for (char32_t c = 0xA0; c <= 0xFF; ++c)
        characters.push_back(c);
    characters.insert(characters.end(), {U'\u0142', U'\u03B1', U'\u20AC', U'\U0001F600'});
    for (const char32_t c : characters) {
        const QString text = QString::fromUcs4(&c, 1);
        const std::vector<int> codes = key_codes(Qt::Key_unknown, text);
        ASSERT_EQ(1u, codes.size());
        tw.front_end.keys.push_back(codes[0]);
        tw.keys("k");
        const std::int16_t code = INKEY();
        EXPECT_NE(0, code);
        EXPECT_NE(224, code);
        EXPECT_EQ(c <= 0xFF && c != 0xE0 ? int(c) : Window::other_character, code);
        EXPECT_EQ('k', INKEY()) << "the next key is a key of its own";

        tw.front_end.keys.push_back(codes[0]);
        tw.type("x");
        std::string expected;
        append_utf8(expected, c);
        EXPECT_EQ(expected + "x", tw.window().read_line());
    }
}

TEST(QtFileBox, PatternsMatchEveryFileTheyMeant) {
    const struct {
        std::string_view pattern, expected;
    } table[] = {
        {"*.*", "*"},       {"abc*.*", "abc*"}, {"abc.*", "abc abc.*"}, {"*.0*", "*.0*"},
        {"*.txt", "*.txt"}, {"*", "*"},         {".*", ".*"},
    };
    for (const auto& row : table)
        EXPECT_EQ(row.expected, box_pattern(row.pattern)) << row.pattern;

    const std::vector<FileFilter> filters = {{"abc files (abc*.*)", "abc*.*"},
                                             {"All Files (*.*)", "*.*"},
                                             {"Spectral Files (*.0*)", "*.0*"}};
    EXPECT_EQ(QStringLiteral("abc files (abc*.*) (abc*);;All Files (*.*) (*);;"
                             "Spectral Files (*.0*) (*.0*)"),
              box_name_filters(filters));
    EXPECT_EQ(QStringLiteral("All Files (*)"), box_name_filters({}));
    // A generic entry made from a name typed with accents shows them.
    EXPECT_EQ(QStringLiteral("sp\u00e9 files (sp\u00e9*.*) (sp\u00e9*)"),
              box_name_filters({{"sp\xC3\xA9 files (sp\xC3\xA9*.*)", "sp\xC3\xA9*.*"}}));
}

// The file-open box takes the room its columns want on any screen that has
// it, 9/10 of a smaller one, and never less than the box's own least size.
TEST(QtPlacement, FileBoxRoomForItsColumns) {
    const struct {
        BoxSize wanted, room, least, expected;
    } table[] = {
        {{900, 480}, {1920, 1080}, {300, 200}, {900, 480}},
        {{900, 480}, {1024, 768}, {300, 200}, {900, 480}},
        {{900, 480}, {800, 600}, {300, 200}, {720, 480}},
        {{900, 480}, {640, 400}, {600, 380}, {600, 380}},
        {{1800, 960}, {3840, 2160}, {600, 400}, {1800, 960}},
        {{900, 480}, {0, 0}, {300, 200}, {900, 480}},
    };
    for (const auto& row : table) {
        const BoxSize got = file_box_size(row.wanted, row.room, row.least);
        EXPECT_EQ(row.expected.width, got.width) << row.room.width;
        EXPECT_EQ(row.expected.height, got.height) << row.room.height;
    }
}

TEST(QtPlacement, LargestWholeScaleCentred) {
    const struct {
        int area_w, area_h, canvas_w, canvas_h;
        Placement expected;
    } table[] = {
        {800, 540, 800, 540, {1, 0, 0}},
        {1599, 1079, 800, 540, {1, 399, 269}}, // just short of 2
        {1600, 1080, 800, 540, {2, 0, 0}},
        {1920, 1080, 800, 540, {2, 160, 0}}, // the height decides
        {3840, 2160, 800, 540, {4, 320, 0}},
        {2560, 1080, 800, 306, {3, 80, 81}}, // the 17-row window
        {1601, 1081, 800, 540, {2, 0, 0}},   // odd remainder: floor
        {600, 400, 800, 540, {1, 0, 0}},     // smaller: the corner stays in view
    };
    for (const auto& row : table) {
        const Placement p = place_canvas(row.area_w, row.area_h, row.canvas_w, row.canvas_h);
        EXPECT_EQ(row.expected.scale, p.scale) << row.area_w << "x" << row.area_h;
        EXPECT_EQ(row.expected.x, p.x) << row.area_w << "x" << row.area_h;
        EXPECT_EQ(row.expected.y, p.y) << row.area_w << "x" << row.area_h;
    }
}

TEST(QtPlacement, ClicksMapBackToCanvasPixels) {
    const Placement p{3, 10, 20}; // 100 x 50 canvas shown 300 x 150 from (10, 20)
    const struct {
        double x, y;
        std::optional<std::pair<int, int>> expected;
    } table[] = {
        {10, 20, {{0, 0}}}, {12.9, 22.9, {{0, 0}}}, {13, 23, {{1, 1}}}, {309.9, 169.9, {{99, 49}}},
        {310, 100, {}},     {9.9, 100, {}},         {100, 19.5, {}},    {100, 170, {}},
    };
    for (const auto& row : table) {
        const auto got = canvas_pixel_at(p, 100, 50, row.x, row.y);
        ASSERT_EQ(row.expected.has_value(), got.has_value()) << row.x << "," << row.y;
        if (got) {
            EXPECT_EQ(row.expected->first, got->x) << row.x << "," << row.y;
            EXPECT_EQ(row.expected->second, got->y) << row.x << "," << row.y;
        }
    }
    // The screen's ratio, rounded: a 2x screen opens the window at scale 2.
    EXPECT_EQ(1, opening_scale(1.0));
    EXPECT_EQ(1, opening_scale(1.25));
    EXPECT_EQ(2, opening_scale(1.5));
    EXPECT_EQ(2, opening_scale(2.0));
    EXPECT_EQ(3, opening_scale(3.0));
}

} // namespace
} // namespace korax

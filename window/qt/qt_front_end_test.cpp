#include "window/qt/placement.h"
#include "window/qt/qt_front_end.h"

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
        {Qt::Key_Eacute, u"\u00e9", {0xE9}},
        {Qt::Key_unknown, u"\u20ac", {}}, // beyond Latin-1
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

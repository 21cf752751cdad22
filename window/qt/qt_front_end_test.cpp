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

} // namespace
} // namespace korax

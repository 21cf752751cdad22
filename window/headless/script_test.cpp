// Key scripts as read: arguments, key names and bad lines.
#include "window/headless/script.h"

#include "window/frontend.h"

#include <gtest/gtest.h>

namespace korax {
namespace {

std::vector<int> codes(std::string_view text, bool enter) {
    std::vector<int> c;
    for (unsigned char ch : text)
        c.push_back(ch);
    if (enter) c.push_back(13);
    return c;
}

TEST(Script, ArgumentsAreVerbatimAndCommentsSkipped) {
    const ParsedScript s = parse_script("# a comment\n"
                                        "\n"
                                        "   \t\n"
                                        "   # indented comment\n"
                                        "type examples/ocs.001\n"
                                        "type   two  \n"
                                        "keys EEO\r\n"
                                        "enter\n"
                                        "  keys #not a comment\n"
                                        "box my data/a b.001 \n"
                                        "box cancel\n"
                                        "shot measured\n"
                                        "screen a b\n"
                                        "expect Ready to plot - press ENTER  \n"
                                        "type \n"
                                        "type");
    ASSERT_FALSE(s.error.has_value()) << s.error->message;
    ASSERT_EQ(12u, s.lines.size());

    EXPECT_EQ(5, s.lines[0].number);
    EXPECT_EQ(codes("examples/ocs.001", true), s.lines[0].keys);
    EXPECT_EQ(codes("  two  ", true), s.lines[1].keys);
    EXPECT_EQ(codes("EEO", false), s.lines[2].keys); // the CR of a CRLF line is no key
    EXPECT_EQ(codes("", true), s.lines[3].keys);
    EXPECT_EQ(codes("#not a comment", false), s.lines[4].keys);
    EXPECT_EQ(ScriptCommand::Box, s.lines[5].command);
    EXPECT_EQ("my data/a b.001 ", s.lines[5].argument);
    EXPECT_EQ(ScriptCommand::BoxCancel, s.lines[6].command);
    EXPECT_EQ(ScriptCommand::Shot, s.lines[7].command);
    EXPECT_EQ("measured", s.lines[7].argument);
    EXPECT_EQ(ScriptCommand::Screen, s.lines[8].command);
    EXPECT_EQ("a b", s.lines[8].argument);
    EXPECT_EQ(ScriptCommand::Expect, s.lines[9].command);
    EXPECT_EQ("Ready to plot - press ENTER  ", s.lines[9].argument);
    EXPECT_EQ(codes("", true), s.lines[10].keys);
    EXPECT_EQ(codes("", true), s.lines[11].keys);
    EXPECT_EQ(16, s.lines[11].number);

    EXPECT_TRUE(s.lines[2].is_input());
    EXPECT_TRUE(s.lines[6].is_input());
    EXPECT_FALSE(s.lines[9].is_input());
}

TEST(Script, KeyNamesGiveTheKeyboardSequences) {
    const struct {
        std::string_view name;
        std::vector<int> expected;
    } table[] = {
        {"home", {0, 71}}, {"end", {0, 79}},  {"pgup", {0, 73}},  {"pgdn", {0, 81}},
        {"up", {0, 72}},   {"down", {0, 80}}, {"left", {0, 75}},  {"right", {0, 77}},
        {"ins", {0, 82}},  {"del", {0, 83}},  {"f1", {0, 59}},    {"f5", {0, 63}},
        {"f10", {0, 68}},  {"esc", {27}},     {"backspace", {8}}, {"tab", {9}},
        {"HOME", {0, 71}}, {"F10", {0, 68}},
    };
    for (const auto& row : table) {
        const auto keys = key_sequence(row.name);
        ASSERT_TRUE(keys.has_value()) << row.name;
        EXPECT_EQ(row.expected, *keys) << row.name;
    }
    for (std::string_view unknown : {"f11", "f0", "pageup", "", "home2"})
        EXPECT_FALSE(key_sequence(unknown).has_value()) << unknown;

    const ParsedScript s = parse_script("key home\nkey f10 \n");
    ASSERT_FALSE(s.error.has_value());
    EXPECT_EQ((std::vector<int>{0, 71}), s.lines[0].keys);
    EXPECT_EQ((std::vector<int>{0, 68}), s.lines[1].keys);
}

TEST(Script, BadLinesAreReportedWithTheirNumber) {
    const struct {
        std::string_view script;
        int line;
        std::string_view message_part;
    } table[] = {
        {"type a\n\nklick x\n", 3, "unknown command \"klick\""},
        {"Type abc\n", 1, "unknown command"},
        {"keys\n", 1, "needs an argument"},
        {"expect\n", 1, "needs an argument"},
        {"box\n", 1, "needs an argument"},
        {"enter now\n", 1, "takes no argument"},
        {"key pageup\n", 1, "unknown key name \"pageup\""},
        {"shot \n", 1, "needs a file name"},
        {"# fine\nenter\nscreen  \n", 3, "needs a file name"},
        {"close now\n", 1, "takes no argument"},
        {"wheel left\n", 1, "takes up or down"},
        {"wheel\n", 1, "needs an argument"},
        {"wheel up 10\n", 1, "two pixel coordinates"},
        {"wheel down 10 -5\n", 1, "two pixel coordinates"},
        {"wheel up 1 2 3\n", 1, "two pixel coordinates"},
        {"click 10\n", 1, "two pixel coordinates"},
        {"click -1 5\n", 1, "two pixel coordinates"},
        {"click 1.5 5\n", 1, "two pixel coordinates"},
        {"click 5 99999999999\n", 1, "two pixel coordinates"},
        {"drop\n", 1, "needs an argument"},
    };
    for (const auto& row : table) {
        const ParsedScript s = parse_script(row.script);
        ASSERT_TRUE(s.error.has_value()) << row.script;
        EXPECT_EQ(row.line, s.error->line) << row.script;
        EXPECT_NE(std::string::npos, s.error->message.find(row.message_part))
            << row.script << " gave " << s.error->message;
    }
}

TEST(Script, TypedTextIsOneKeyPerCharacter) {
    // été, a euro sign, 'à' (never 224, which would begin a two-code key), a
    // Latin-1 byte that is not UTF-8, and a cut sequence.
    EXPECT_EQ((std::vector<int>{text_key(0xE9), 't', text_key(0xE9)}),
              text_keys("\xC3\xA9t\xC3\xA9"));
    EXPECT_EQ((std::vector<int>{text_key(0x20AC)}), text_keys("\xE2\x82\xAC"));
    EXPECT_EQ((std::vector<int>{text_key(0xE0), '0'}), text_keys("\xC3\xA0"
                                                                 "0"));
    EXPECT_EQ((std::vector<int>{text_key(0xE9), 'x'}), text_keys("\xE9x"));
    EXPECT_EQ((std::vector<int>{text_key(0xC3)}), text_keys("\xC3"));

    const ParsedScript s = parse_script("keys \xC3\xA4\nexpect \xC3\xBC\n");
    ASSERT_FALSE(s.error.has_value());
    EXPECT_EQ(std::vector<int>{text_key(0xE4)}, s.lines[0].keys);
    EXPECT_EQ("\xC3\xBC", s.lines[1].argument); // the grid holds UTF-8 too
}

} // namespace
} // namespace korax

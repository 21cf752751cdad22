// The configuration file's rules and the window arithmetic, without a window.
#include "driver/config_file.h"

#include <gtest/gtest.h>

#include <vector>

namespace korax {
namespace {

// A value line: a label in the free first 35 columns, the value from column 36.
std::string value_line(std::string label, std::string value) {
    label.resize(35, ' ');
    return label + value;
}

ConfigResult parse(const std::vector<std::string>& lines) {
    return parse_config(lines);
}

TEST(ConfigFile, ReadsValuesAfterLeadingComments) {
    const auto r =
        parse({"! KORAX window", "!", value_line("width", "1024"), value_line("height", " 768"),
               value_line("font", "Lucida Console"), value_line("bold", "   2"),
               value_line("italic", "   5"), "!", value_line("never read", "  99")});
    ASSERT_FALSE(r.problem);
    ASSERT_FALSE(r.illegal_attribute);
    EXPECT_EQ(1024, r.config.width);
    EXPECT_EQ(768, r.config.height);
    EXPECT_EQ(30, r.config.rows);
    EXPECT_EQ("Lucida Console", r.config.font);
    EXPECT_EQ(0x12u, r.config.attributes);
}

TEST(ConfigFile, LinesAreTakenAsTheyCome) {
    // No comment at the top: the first line is the width line. A "!" line right
    // after it is the height line, read from its columns 36-39.
    const auto r = parse({value_line("width", " 640"), value_line("!", " 480"),
                          value_line("font", "Courier New"), "! end"});
    ASSERT_FALSE(r.problem);
    EXPECT_EQ(640, r.config.width);
    EXPECT_EQ(480, r.config.height);
    EXPECT_EQ(0u, r.config.attributes); // no attribute lines at all
}

TEST(ConfigFile, AttributeValuesAreAddedNotMerged) {
    const auto r = parse({value_line("w", "800"), value_line("h", "540"), value_line("f", "X"),
                          value_line("a", "  15"), value_line("a", "15"), value_line("a", "  12"),
                          value_line("a", "   3"), "!"});
    ASSERT_FALSE(r.problem);
    EXPECT_EQ(0xFF000u + 0xFF000u + 0x0u + 0x1u, r.config.attributes);

    const struct {
        int number;
        std::uint32_t value;
    } table[] = {{1, 0x80000000}, {2, 0x2},   {3, 0x1},     {4, 0x4},     {5, 0x10},
                 {6, 0x20},       {7, 0x100}, {8, 0x200},   {9, 0x300},   {10, 0x400},
                 {11, 0x500},     {12, 0x0},  {13, 0x1000}, {14, 0x2000}, {15, 0xFF000}};
    for (const auto& row : table)
        EXPECT_EQ(row.value, attribute_value(row.number)) << row.number;
}

TEST(ConfigFile, AttributeOutsideOneToFifteenIsFatal) {
    const struct {
        std::string field;
        int number;
    } table[] = {{"  16", 16}, {"   0", 0}, {"", 0}, {"  -3", -3}};
    for (const auto& row : table) {
        const auto r = parse({value_line("w", "800"), value_line("h", "540"), value_line("f", "X"),
                              value_line("a", "   2"), value_line("a", row.field), "!"});
        ASSERT_TRUE(r.illegal_attribute) << row.field;
        EXPECT_EQ(row.number, *r.illegal_attribute);
    }
}

TEST(ConfigFile, UnusableValuesFallBackToTheDefaultWindow) {
    const struct {
        std::vector<std::string> lines;
        int line;
        std::string problem;
    } table[] = {
        {{"!", value_line("w", "80x0"), value_line("h", "540"), value_line("f", "X"), "!"},
         2,
         "has no usable width in line 2"},
        {{value_line("w", "   0"), value_line("h", "540"), value_line("f", "X"), "!"},
         1,
         "has no usable width in line 1"},
        {{value_line("w", "800"), value_line("h", "-540"), value_line("f", "X"), "!"},
         2,
         "has no usable height in line 2"},
        {{value_line("w", "800"), "short", value_line("f", "X"), "!"},
         2,
         "has no usable height in line 2"},
        {{value_line("w", "800"), value_line("h", "540"), value_line("f", "X"),
          value_line("a", " two"), "!"},
         4,
         "has no readable font attribute in line 4"},
        {{value_line("w", "800"), value_line("h", "540"), value_line("f", "X"),
          value_line("a", "   2")},
         0,
         "ends before its closing ! line"},
        {{value_line("w", "800"), value_line("h", "540")}, 0, "ends before its closing ! line"},
        {{"! only comments"}, 0, "ends before its closing ! line"},
        {{}, 0, "ends before its closing ! line"},
    };
    for (const auto& row : table) {
        const auto r = parse(row.lines);
        ASSERT_TRUE(r.problem) << row.problem;
        EXPECT_EQ(row.line, r.problem->line);
        EXPECT_EQ(row.problem, r.problem->problem);
        EXPECT_FALSE(r.illegal_attribute);
        EXPECT_EQ(800, r.config.width);
        EXPECT_EQ(540, r.config.height);
        EXPECT_EQ("Courier New", r.config.font);
        EXPECT_EQ(0u, r.config.attributes);
    }
}

TEST(ConfigFile, FixedIntegerFields) {
    const struct {
        const char* field;
        std::optional<long> value;
    } table[] = {
        {"    ", 0},           {" 800", 800}, {"1 02", 102},          {" -12", -12},
        {"+7  ", 7},           {"", 0},       {"12a ", std::nullopt}, {"1-2 ", std::nullopt},
        {"--1 ", std::nullopt}};
    for (const auto& row : table)
        EXPECT_EQ(row.value, read_fixed_integer(row.field)) << row.field;
}

TEST(ConfigFile, ScreenGeometry) {
    const struct {
        int width, height, rows;
        int maxx, maxy, rowpix;
    } table[] = {
        {800, 540, 30, 799, 539, 19}, // 539 / 30 = 17.97 -> 18, plus 1
        {640, 480, 30, 639, 479, 17}, // 15.97 -> 16
        {800, 306, 17, 799, 305, 19}, // 17.94 -> 18
        {800, 46, 30, 799, 45, 3},    // 1.5 rounds up to 2
    };
    for (const auto& row : table) {
        const ScreenGeometry g = screen_geometry(row.width, row.height, row.rows);
        EXPECT_EQ(row.maxx, g.MAXX);
        EXPECT_EQ(row.maxy, g.MAXY);
        EXPECT_EQ(row.rows, g.NROWS);
        EXPECT_EQ(80, g.NCOLS);
        EXPECT_EQ(row.rowpix, g.ROWPIX) << row.height << "/" << row.rows;
    }
}

TEST(ConfigFile, HeightToggleKeepsWholeRowHeights) {
    const struct {
        int height, rows, toggled, back;
    } table[] = {
        {540, 30, 306, 540}, {545, 30, 306, 540}, {600, 30, 340, 600}, {480, 30, 272, 480}};
    for (const auto& row : table) {
        const WindowSize once = toggled_size(screen_geometry(800, row.height, row.rows));
        EXPECT_EQ(17, once.rows);
        EXPECT_EQ(row.toggled, once.height) << row.height;
        EXPECT_EQ(800, once.width);
        const WindowSize twice = toggled_size(screen_geometry(once.width, once.height, once.rows));
        EXPECT_EQ(30, twice.rows);
        EXPECT_EQ(row.back, twice.height) << row.height;
    }
}

} // namespace
} // namespace korax

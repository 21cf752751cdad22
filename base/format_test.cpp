// Fixed fields: printf layout, asterisks when a value does not fit.
#include "base/format.h"
#include "base/utf8.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

namespace korax {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(Format, FieldsAndAsteriskFill) {
    EXPECT_EQ("   42", fmt_int(42, 5));
    EXPECT_EQ("-1234", fmt_int(-1234, 5));
    EXPECT_EQ("*****", fmt_int(-12345, 5));
    EXPECT_EQ("*******", fmt_int(3000000000LL * 10, 7));
    EXPECT_EQ("3000000", fmt_int(3000000, 7));

    struct Case {
        double value;
        int width, decimals;
        const char* expected;
    } fixed[] = {
        {1234.56789, 12, 4, "   1234.5679"},
        {-0.5, 6, 2, " -0.50"},
        {0.125, 5, 2, " 0.12"}, // 0.125 is exact: ties go to even, as printf
        {0.375, 5, 2, " 0.38"},
        {2.675, 5, 2, " 2.67"},   // stored just below 2.675
        {99.995, 6, 2, "100.00"}, // stored just above 99.995
        {123456.7, 8, 2, "********"},
        {-1e-9, 6, 2, " -0.00"},
        {inf, 6, 2, "******"},
        {nan, 6, 2, "******"},
        {1e300, 10, 2, "**********"},
    };
    for (const auto& c : fixed) {
        EXPECT_EQ(c.expected, fmt_fixed(c.value, c.width, c.decimals)) << c.value;
        char out[64] = {};
        EXPECT_EQ(c.width, put_fixed(out, c.value, c.width, c.decimals));
        EXPECT_EQ(c.expected, std::string(out, std::size_t(c.width))) << c.value;
    }

    EXPECT_EQ(" 1.234E+03", fmt_exp(1234.0, 10, 3));
    EXPECT_EQ("-1.234E-05", fmt_exp(-1.2344e-5, 10, 3));
    EXPECT_EQ("*********", fmt_exp(-1.2344e-5, 9, 3));
    EXPECT_EQ("**********", fmt_exp(nan, 10, 3));
    EXPECT_EQ("  1234567.", fmt_point(1234567.4, 10));
    EXPECT_EQ("********", fmt_point(123456789.0, 8));
}

TEST(Format, PutFixedMatchesPrintfOnRandomValues) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-8, 9), decimals(0, 6);
    for (int n = 0; n < 20000; ++n) {
        const double v = mantissa(random) * std::pow(10.0, exponent(random));
        const int d = decimals(random);
        char expected[128];
        const int len = std::snprintf(expected, sizeof expected, "%14.*f", d, v);
        char out[14];
        put_fixed(out, v, 14, d);
        const std::string want = len <= 14 ? std::string(expected) : std::string(14, '*');
        ASSERT_EQ(want, std::string(out, 14)) << v << " " << d;
    }
}

TEST(Format, TextHelpers) {
    const std::string h = heading("P E A K F I N D E R");
    EXPECT_EQ(80u, h.size());
    EXPECT_EQ("_____P E A K F I N D E R" + std::string(56, '_'), h);
    EXPECT_EQ("ab   ", pad("ab", 5));
    EXPECT_EQ("abc", pad("abcdef", 3));
    EXPECT_EQ("  a b", trim_right("  a b   "));
    EXPECT_EQ("", trim_right("    "));
    EXPECT_EQ(std::string(80, ' '), blanks(80));
    // Fields count characters: "é" is two bytes but one column.
    EXPECT_EQ("\xC3\xA9t\xC3\xA9  ", pad("\xC3\xA9t\xC3\xA9", 5));
    EXPECT_EQ("\xC3\xA9t", pad("\xC3\xA9t\xC3\xA9", 2));
}

TEST(Utf8, EveryByteIsReadAsOneCharacterOrPartOfOne) {
    const struct {
        std::string_view bytes;
        std::u32string characters;
    } table[] = {
        {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", U"a\u00E9\u20AC\U0001F600"},
        {"\xE9t\xE9", U"\u00E9t\u00E9"},                   // Latin-1 bytes stay their letters
        {"\xC3", U"\u00C3"},                               // cut short at the end
        {"\xC3x", U"\u00C3x"},                             // cut short by a letter
        {"\x80\xBF", U"\u0080\u00BF"},                     // stray continuation bytes
        {"\xC0\xAF", U"\u00C0\u00AF"},                     // overlong "/"
        {"\xE0\x80\xAF", U"\u00E0\u0080\u00AF"},           // overlong, three bytes
        {"\xED\xA0\x80", U"\u00ED\u00A0\u0080"},           // a surrogate
        {"\xF4\x90\x80\x80", U"\u00F4\u0090\u0080\u0080"}, // beyond U+10FFFF
    };
    for (const auto& row : table) {
        std::u32string got;
        for (std::size_t i = 0; i < row.bytes.size();)
            got += next_character(row.bytes, i);
        EXPECT_EQ(row.characters, got) << row.bytes;
        EXPECT_EQ(row.characters.size(), character_count(row.bytes)) << row.bytes;
        // Written back, valid text is unchanged.
        std::string again;
        for (char32_t c : got)
            append_utf8(again, c);
        if (row.bytes.starts_with("a")) {
            EXPECT_EQ(row.bytes, again);
        }
    }
    const std::string name = "/d/sp\xC3\xA9"
                             "c_\xC3\xBC.001";
    EXPECT_EQ("\xC3\xA9"
              "c_\xC3\xBC.001",
              last_characters(name, 8));
    EXPECT_EQ("/d/sp\xC3\xA9", first_characters(name, 6));
    EXPECT_EQ(name, last_characters(name, 99));
    EXPECT_EQ("", last_characters(name, 0));
    std::string typed = "a\xE2\x82\xAC";
    drop_last_character(typed);
    EXPECT_EQ("a", typed);
    drop_last_character(typed);
    drop_last_character(typed);
    EXPECT_EQ("", typed);
}

} // namespace
} // namespace korax

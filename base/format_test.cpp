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

TEST(Format, ErrorsKeepTwoSignificantDigits) {
    const struct {
        double error;
        int decimals;
    } errors[] = {
        {0.00054, 5},   {0.000996, 4}, // rounds to 0.0010
        {0.0000994, 6}, {0.0000996, 5}, {0.0012, 4}, {2.5, 1},     {9.94, 1},
        {9.96, 0},      {12, 0},        {350, 0},    {1.8e-9, 10}, {2e-7, 8},
        {1e-300, 301},  {0, 0},         {-0.001, 0}, {inf, 0},     {nan, 0},
    };
    for (const auto& c : errors)
        EXPECT_EQ(c.decimals, error_decimals(c.error)) << c.error;

    const struct {
        double value, error;
        int at_least, decimals;
    } values[] = {
        {240046.03188, 0.00098, 4, 5},
        {240046.03188, 0.0012, 5, 5},   // never fewer than the layout's
        {240046.03188, 0.000060, 5, 6}, // 0.00006 and 0.00014 must not both read 0.0001
        {2000.0000123, 1.8e-9, 5, 10},  // a wavenumber axis of step 1e-7
        {2000.0000123, 1e-14, 5, 11},   // 15 significant digits, no more
        {240046.0, 1e-14, 5, 9},
        {0.5, 1e-20, 4, 14},
        {1e20, 0.001, 5, 5},
        {5.0, 0, 4, 4},
        {5.0, inf, 4, 4},
        {5.0, -1, 3, 3},
    };
    for (const auto& c : values)
        EXPECT_EQ(c.decimals, value_decimals(c.value, c.error, c.at_least))
            << c.value << " +- " << c.error;
}

TEST(Format, WidenedFieldsShowWhatTheLayoutWouldWriteAsZero) {
    EXPECT_TRUE(prints_as_zero(0.000004, 5));
    EXPECT_TRUE(prints_as_zero(-0.000004, 5)); // "-0.00000"
    EXPECT_TRUE(prints_as_zero(0, 5));
    EXPECT_FALSE(prints_as_zero(0.000006, 5));
    EXPECT_FALSE(prints_as_zero(0.00005, 4)); // stored just above: 0.0001
    EXPECT_FALSE(prints_as_zero(nan, 5));
    EXPECT_FALSE(prints_as_zero(inf, 5));

    const struct {
        double error;
        int decimals;
        double step;
        bool widens;
    } cases[] = {
        {2e-7, 5, 1e-5, true},    // 0.02 points of a wavenumber axis
        {2e-9, 4, 1e-7, true},    // the O rows on the finest one
        {1.2e-5, 5, 1e-5, false}, // 0.00001: not zero, the layout stays
        {5.1e-8, 5, 1.0, false},  // a noiseless line's rounding, 5e-8 of a step
        {4e-6, 5, 0.05, true},    // an MHz error the layout would hide
        {0, 5, 1e-5, false},      {inf, 5, 1e-5, false}, {2e-7, 5, 0, true}, // no axis known
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.widens, widens_for(c.error, c.decimals, c.step)) << c.error << " " << c.step;

    const struct {
        double value;
        int width, decimals, wider;
        const char* expected;
    } fields[] = {
        {2000.0000123456, 14, 5, 5, "    2000.00001"},  // the layout as it is
        {2000.0000123456, 14, 5, 4, "    2000.00001"},  // never fewer decimals
        {2000.0000123456, 14, 5, 9, " 2000.000012346"}, // a blank before it
        {2000.0000123456, 14, 5, 7, "  2000.0000123"},  // room enough in the field
        {1.8e-9, 7, 4, 10, " 0.0000000018"},
        {-2.5e-7, 8, 5, 8, " -0.00000025"},
        {1234567890.0, 14, 5, 8, "**************"}, // overflows the layout: asterisks
        {inf, 8, 5, 9, "********"},
        {nan, 8, 5, 5, "********"},
    };
    for (const auto& c : fields)
        EXPECT_EQ(c.expected, fmt_widened(c.value, c.width, c.decimals, c.wider))
            << c.value << " " << c.wider;
}

TEST(Format, ValueWithErrorInUnitsOfTheLastDigit) {
    const struct {
        double value, error;
        const char* text;
    } cases[] = {
        {240046.031884, 0.000983, "240046.03188(98)"},
        {2000.00001234567, 1.8e-9, "2000.0000123457(18)"},
        {2000.00001234567, 2.4e-8, "2000.000012346(24)"},
        // Below the value's 15 significant digits the error is rounding; it
        // shows as one unit of the last digit, never as (0).
        {2000.00001234567, 3e-14, "2000.00001234567(1)"},
        {240046.031884, 0, "240046.0319(0)"},
        {240046.031884, -1, "240046.0319(?)"},
        {nan, 0.1, "?"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, with_error(c.value, c.error)) << c.value << " " << c.error;
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

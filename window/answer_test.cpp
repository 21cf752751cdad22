// Typed answers: what reads, what is refused.
#include "window/answer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace korax {
namespace {

TEST(Answer, IntegersFromAFixedField) {
    struct Case {
        const char* line;
        std::optional<long long> value;
    } cases[] = {
        {"", 0},     {"     ", 0}, {"42", 42},
        {" -7", -7}, {"+15", 15},  {"1 2", 12},
        {"1,5", 1},  {",9", 0},    {"123456", 12345}, // width 5
        {"12a", {}}, {"1.5", {}},  {"-", {}},
        {"--1", {}}, {"0x10", {}}, {"99999999999999999999", 99999},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, read_integer(c.line, 5, -99999, 99999)) << c.line;

    // The range is checked before narrowing: 65535 is not -1.
    EXPECT_FALSE(read_int<std::int16_t>("65535", 5));
    EXPECT_EQ(std::int16_t(-32768), read_int<std::int16_t>("-32768", 6));
    EXPECT_FALSE(read_int<std::int16_t>("32768", 5));
    EXPECT_EQ(-9223372036854775807LL - 1,
              read_integer("-9223372036854775808", 30, INT64_MIN, INT64_MAX));
    EXPECT_FALSE(read_integer("9223372036854775808", 30, INT64_MIN, INT64_MAX));
    EXPECT_FALSE(read_integer("99999999999999999999999", 30, INT64_MIN, INT64_MAX));
}

TEST(Answer, RealsFromATwentyColumnField) {
    struct Case {
        const char* line;
        std::optional<double> value;
    } cases[] = {
        {"", 0.0},
        {"12", 12.0},
        {"-12", -12.0},
        {"1.5", 1.5},
        {".5", 0.5},
        {"5.", 5.0},
        {"1e3", 1000.0},
        {"1.5E-3", 0.0015},
        {"1.5D3", 1500.0},
        {"1.5d+3", 1500.0},
        {" 1 2 . 5 ", 12.5},
        {"1,5", 1.0},
        {"1e-999", 0.0},
        {"nan", {}},
        {"inf", {}},
        {"-Infinity", {}},
        {"0x1p3", {}},
        {"1e999", {}},
        {"1e", {}},
        {".", {}},
        {"e5", {}},
        {"1.2.3", {}},
        {"12abc", {}},
        {"+", {}},
        // Only the first 20 columns count.
        {"                    5", 0.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, read_real(c.line)) << c.line;

    EXPECT_EQ(3.25f, read_real32("3.25"));
    EXPECT_FALSE(read_real32("1e39"));
    EXPECT_FALSE(read_real32("-3.5e38"));
    EXPECT_TRUE(read_real32("3.4e38"));
}

TEST(Answer, FreeFormPairs) {
    bool empty = false;
    auto r = read_free_reals("  1.5  -2e1 ", 2, &empty);
    ASSERT_TRUE(r);
    EXPECT_EQ(2, r->count);
    EXPECT_EQ(1.5, r->values[0]);
    EXPECT_EQ(-20.0, r->values[1]);
    EXPECT_FALSE(empty);

    r = read_free_reals("3,4", 2);
    ASSERT_TRUE(r);
    EXPECT_EQ(4.0, r->values[1]);
    r = read_free_reals("3 , 4 9", 2); // the rest of the line is not read
    ASSERT_TRUE(r);
    EXPECT_EQ(4.0, r->values[1]);

    EXPECT_FALSE(read_free_reals("    ", 2, &empty));
    EXPECT_TRUE(empty);
    EXPECT_FALSE(read_free_reals("7", 2, &empty));
    EXPECT_FALSE(empty);
    EXPECT_FALSE(read_free_reals("1,,2", 2));
    EXPECT_FALSE(read_free_reals("1 x", 2));
    EXPECT_FALSE(read_free_reals("nan 1", 2));
}

// Typed answers that fuzzing showed to be read wrongly: a real with a plus sign,
// and integers of 20 digits whose magnitude wrapped around while it was being
// accumulated, so that a huge number could pass as a small one.
TEST(Answer, RealsTakeAPlusSignLikeIntegers) {
    struct Case {
        std::string_view line;
        int width;
        double value;
    };
    const Case cases[] = {
        {"+30", 20, 30.0},      {"+30", 2, 3.0},  {" + 1.5E-3", 20, 0.0015},
        {"+1.5D3", 20, 1500.0}, {"+.5", 20, 0.5}, {"+0", 20, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto v = read_real(c.line, c.width);
        ASSERT_TRUE(v.has_value());
        EXPECT_DOUBLE_EQ(c.value, *v);
        const auto f = read_real32(c.line, c.width);
        ASSERT_TRUE(f.has_value());
        EXPECT_FLOAT_EQ(static_cast<float>(c.value), *f);
    }
    const auto pair = read_free_reals("+240000.05, +2", 2);
    ASSERT_TRUE(pair.has_value());
    EXPECT_DOUBLE_EQ(240000.05, pair->values[0]);
    EXPECT_DOUBLE_EQ(2.0, pair->values[1]);
    // A sign on its own, or two of them, is still no number.
    EXPECT_FALSE(read_real("+", 20).has_value());
    EXPECT_FALSE(read_real("+-3", 20).has_value());
}

TEST(Answer, TwentyDigitIntegersNeverWrapIntoRange) {
    constexpr auto lowest = std::numeric_limits<long long>::min();
    constexpr auto highest = std::numeric_limits<long long>::max();
    // Each lies a multiple of 2^64 above a value that fits: a wrapping
    // accumulator saw 6853180157675592052, 4 and the largest 64-bit integer.
    for (std::string_view line :
         {"62193412378804246900", "18446744073709551620", "27670116110564327423",
          "-18446744073709551617", "9223372036854775808", "99999999999999999999"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(std::nullopt, read_integer(line, 25, lowest, highest));
        EXPECT_EQ(std::nullopt, read_int<std::int32_t>(line, 25));
        EXPECT_EQ(std::nullopt, read_int<std::int16_t>(line, 25));
    }
    EXPECT_EQ(std::optional<long long>(highest),
              read_integer("9223372036854775807", 20, lowest, highest));
    EXPECT_EQ(std::optional<long long>(lowest),
              read_integer("-9223372036854775808", 20, lowest, highest));
    EXPECT_EQ(std::optional<long long>(1844674407370955161LL),
              read_integer("1844674407370955161", 20, lowest, highest));
}

} // namespace
} // namespace korax

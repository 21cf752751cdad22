// Typed answers that fuzzing showed to be read wrongly: a real with a plus sign,
// and integers of 20 digits whose magnitude wrapped around while it was being
// accumulated, so that a huge number could pass as a small one.
#include "window/answer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace korax {
namespace {

TEST(AnswerFuzzRegress, RealsTakeAPlusSignLikeIntegers) {
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

TEST(AnswerFuzzRegress, TwentyDigitIntegersNeverWrapIntoRange) {
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

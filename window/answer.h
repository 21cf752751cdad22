// Reading typed answers. An empty line reads as 0; anything that is not a number
// of the expected form ("nan", "inf", "1e999", letters, a value that does not fit
// the variable) is a failure the caller sees as nullopt.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace korax {

// An integer from the first `width` characters: blanks are ignored, a comma ends
// the field early, an optional sign, digits only. The value must lie in
// [min, max] (checked before any narrowing).
std::optional<long long> read_integer(std::string_view line, int width, long long min,
                                      long long max);
template <class T> std::optional<T> read_int(std::string_view line, int width) {
    auto v =
        read_integer(line, width, std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
    if (!v) return std::nullopt;
    return static_cast<T>(*v);
}

// A real from the first `width` characters (default 20): blanks ignored, a comma
// ends the field; integer, fixed or exponent notation (E or D). Finite doubles only.
std::optional<double> read_real(std::string_view line, int width = 20);
// The same, but the value must fit a 32-bit float; returned rounded to float.
std::optional<float> read_real32(std::string_view line, int width = 20);

// Free-form reals: numbers separated by blanks or one comma. Reads up to `count`
// values; nullopt when fewer than `count` can be read or one is malformed.
// An empty line gives nullopt with `empty` set (callers that skip empty lines).
struct FreeReals {
    double values[2] = {0, 0};
    int count = 0;
};
std::optional<FreeReals> read_free_reals(std::string_view line, int count, bool* empty = nullptr);

} // namespace korax

// Reference conversions for differential checks: the C library's strtod and
// strtof on the same token. The readers have their own scanners and fast paths;
// wherever both accept a token they must agree to the last bit.
#pragma once

#include "fuzz/fuzz_common.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace korax::fuzz {

// True when the token holds nothing but the characters of plain decimal
// notation, so that strtod cannot take it as hexadecimal, "inf" or "nan".
inline bool plain_decimal(std::string_view token) {
    if (token.empty()) return false;
    for (char c : token)
        if (!std::strchr("0123456789+-.eEdD", c)) return false;
    return true;
}

// strtod/strtof over the whole token, with a D exponent read as E; nullopt
// when the C library does not take the token whole.
template <class T> std::optional<T> c_library_value(std::string_view token) {
    std::string text(token);
    for (char& c : text)
        if (c == 'd' || c == 'D') c = 'e';
    char* end = nullptr;
    errno = 0;
    T v;
    if constexpr (sizeof(T) == sizeof(double))
        v = std::strtod(text.c_str(), &end);
    else
        v = std::strtof(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return v;
}

// The readers may take values too small for the type as zero, where the C
// library gives a subnormal; everything else must match bit for bit.
template <class T> bool same_value(T mine, T reference) {
    const int kind = std::fpclassify(reference);
    if ((kind == FP_ZERO || kind == FP_SUBNORMAL) && mine == T(0)) return true;
    return std::memcmp(&mine, &reference, sizeof(T)) == 0;
}

} // namespace korax::fuzz

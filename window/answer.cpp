// Typed answers read as fixed fields: blanks inside a field are ignored, a comma
// ends it, an empty field is 0. Anything else that is not a plain number is
// refused, so a prompt can ask again instead of taking a wrong value.
#include "window/answer.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace korax {

namespace {

// The field: its first `width` characters, up to a comma, without blanks.
std::string field_text(std::string_view line, int width) {
    assert(width > 0 && "a field needs at least one column");
    line = line.substr(0, std::size_t(width));
    line = line.substr(0, line.find(','));
    std::string out;
    for (char c : line)
        if (c != ' ' && c != '\t') out.push_back(c);
    return out;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A real in one of the forms 12, -12, 1.5, .5, 5., 1e3, 1.5E-3, 1.5D3 with no
// blanks left in it. Hex digits, "nan", "inf" never get past the grammar, so
// from_chars only ever sees plain decimal text.
std::optional<double> parse_real(std::string_view s) {
    std::string text;
    std::size_t i = 0;
    // from_chars takes no '+': a plus sign is read and dropped.
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-') text.push_back('-');
        ++i;
    }
    int digits = 0;
    int leading = 0;        // digits before the point
    int first_nonzero = -1; // position of the first significant digit, counted from the point
    for (; i < s.size() && is_digit(s[i]); ++i, ++digits, ++leading) {
        if (first_nonzero < 0 && s[i] != '0') first_nonzero = leading;
        text.push_back(s[i]);
    }
    int magnitude = first_nonzero >= 0 ? leading - first_nonzero : 0;
    if (i < s.size() && s[i] == '.') {
        text.push_back('.');
        int after = 0;
        for (++i; i < s.size() && is_digit(s[i]); ++i, ++digits) {
            ++after;
            if (first_nonzero < 0 && s[i] != '0') {
                first_nonzero = 0;
                magnitude = 1 - after;
            }
            text.push_back(s[i]);
        }
    }
    if (digits == 0) return std::nullopt;
    long long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        text.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) text.push_back(s[i++]);
        const std::size_t start = i;
        for (; i < s.size() && is_digit(s[i]); ++i) {
            text.push_back(s[i]);
            if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
        }
        if (i == start) return std::nullopt;
        if (text[text.size() - (i - start) - 1] == '-') exponent = -exponent;
    }
    if (i != s.size()) return std::nullopt;
    if (first_nonzero < 0) return text[0] == '-' ? -0.0 : 0.0;

    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Too small to hold is as good as zero; too large cannot be used.
        if (magnitude + exponent > 0) return std::nullopt;
        return text[0] == '-' ? -0.0 : 0.0;
    }
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<long long> read_integer(std::string_view line, int width, long long min,
                                      long long max) {
    const std::string s = field_text(line, width);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size() && i > 0) return std::nullopt; // a sign alone
    // Accumulated as a magnitude in unsigned arithmetic so that no input can
    // overflow, and compared with the range before anything is narrowed.
    unsigned long long magnitude = 0;
    constexpr unsigned long long cap = 1ULL << 63;
    for (; i < s.size(); ++i) {
        if (!is_digit(s[i])) return std::nullopt;
        // Checked before it grows, so that a long field cannot wrap around.
        const unsigned digit = unsigned(s[i] - '0');
        if (magnitude > (cap - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    long long value = 0;
    if (negative)
        value = magnitude == cap ? std::numeric_limits<long long>::min()
                                 : -static_cast<long long>(magnitude);
    else if (magnitude == cap)
        return std::nullopt;
    else
        value = static_cast<long long>(magnitude);
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<double> read_real(std::string_view line, int width) {
    const std::string s = field_text(line, width);
    if (s.empty()) return 0.0;
    return parse_real(s);
}

std::optional<float> read_real32(std::string_view line, int width) {
    const auto v = read_real(line, width);
    if (!v || std::fabs(*v) > double(std::numeric_limits<float>::max())) return std::nullopt;
    const auto f = static_cast<float>(*v);
    if (!std::isfinite(f)) return std::nullopt; // rounds up past the largest float
    return f;
}

std::optional<FreeReals> read_free_reals(std::string_view line, int count, bool* empty) {
    assert(count >= 1 && count <= 2 && "read_free_reals holds at most two values");
    if (empty) *empty = false;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t i = 0;
    while (i < line.size() && blank(line[i]))
        ++i;
    if (i == line.size()) {
        if (empty) *empty = true;
        return std::nullopt;
    }
    FreeReals out;
    while (out.count < count) {
        while (i < line.size() && blank(line[i]))
            ++i;
        std::size_t end = i;
        while (end < line.size() && !blank(line[end]) && line[end] != ',')
            ++end;
        if (end == i) return std::nullopt; // nothing left, or two separators in a row
        const auto v = parse_real(line.substr(i, end - i));
        if (!v) return std::nullopt;
        out.values[out.count++] = *v;
        i = end;
        while (i < line.size() && blank(line[i]))
            ++i;
        if (i < line.size() && line[i] == ',') ++i;
    }
    return out;
}

} // namespace korax

// Fixed-field numbers with printf's rounding and layout; a value that does not
// fit (or is not finite) becomes a field of asterisks rather than a wider field,
// so that columns of screens and text files never shift.
#include "base/format.h"

#include "base/utf8.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace korax {

namespace {

std::string stars(int width) {
    return std::string(std::size_t(std::max(width, 0)), '*');
}

// Right-aligns what snprintf wrote, or gives asterisks when it is too wide.
template <class... Args> std::string field(int width, const char* format, Args... args) {
    assert(width > 0 && "a field needs at least one column");
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, format, width, args...);
    if (n < 0 || n > width || n >= int(sizeof buffer)) return stars(width);
    return std::string(buffer, std::size_t(n));
}

} // namespace

std::string fmt_int(long long value, int width) {
    return field(width, "%*lld", value);
}

std::string fmt_fixed(double value, int width, int decimals) {
    if (!std::isfinite(value)) return stars(width);
    // Beyond this the digits alone outrun any field the program uses.
    if (std::fabs(value) >= 1e300) return stars(width);
    return field(width, "%*.*f", decimals, value);
}

std::string fmt_exp(double value, int width, int decimals) {
    if (!std::isfinite(value)) return stars(width);
    return field(width, "%*.*E", decimals, value);
}

std::string fmt_point(double value, int width) {
    if (!std::isfinite(value) || std::fabs(value) >= 1e300) return stars(width);
    return field(width, "%#*.0f", value);
}

std::string pad(std::string_view text, std::size_t width) {
    // Characters, not bytes: a name with accents fills its field like any other.
    std::string out(first_characters(text, width));
    out.append(width - character_count(out), ' ');
    return out;
}

std::string_view trim_right(std::string_view text) {
    const auto end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

std::string heading(std::string_view spaced_words) {
    std::string out = "_____";
    out += spaced_words;
    if (out.size() < 80) out.resize(80, '_');
    return out;
}

std::string blanks(std::size_t n) {
    return std::string(n, ' ');
}

int put_fixed(char* out, double value, int width, int decimals) {
    assert(width > 0 && decimals >= 0);
    // to_chars rounds exactly as printf does (correctly, from the binary value)
    // and needs no locale or format parsing: it is the hot path of big files.
    char buffer[400];
    if (std::isfinite(value) && std::fabs(value) < 1e300) {
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                             std::chars_format::fixed, decimals);
        const auto n = end - buffer;
        if (ec == std::errc{} && n <= width) {
            std::memset(out, ' ', std::size_t(width - n));
            std::memcpy(out + (width - n), buffer, std::size_t(n));
            return width;
        }
    }
    std::memset(out, '*', std::size_t(width));
    return width;
}

} // namespace korax

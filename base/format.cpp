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
#include <cstdlib>
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

int error_decimals(double error) {
    if (!(error > 0) || !std::isfinite(error)) return 0;
    // The exponent as printf rounds to two significant digits: 0.000996 is
    // 1.0e-03, which a computed log10 would put at -4.
    char text[32];
    std::snprintf(text, sizeof text, "%.1e", error);
    const int exponent = std::atoi(std::strchr(text, 'e') + 1);
    return std::max(0, 1 - exponent);
}

int value_decimals(double value, double error, int at_least) {
    if (!(error > 0) || !std::isfinite(error)) return at_least;
    const double magnitude = std::fabs(value);
    int whole_digits = 1;
    if (std::isfinite(magnitude) && magnitude >= 10)
        whole_digits = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
    const int most = std::max(at_least, 15 - whole_digits);
    return std::clamp(error_decimals(error), at_least, most);
}

bool prints_as_zero(double value, int decimals) {
    if (!std::isfinite(value)) return false;
    // Far from the half unit the answer needs no printing: this runs for
    // every line of a results file.
    const double unit = std::pow(10.0, -std::clamp(decimals, 0, 60));
    if (std::fabs(value) >= unit) return false;
    if (std::fabs(value) < 0.4 * unit) return true;
    char text[400];
    const int n = std::snprintf(text, sizeof text, "%.*f", std::clamp(decimals, 0, 60), value);
    for (int k = 0; k < n && k < int(sizeof text); ++k)
        if (text[k] >= '1' && text[k] <= '9') return false;
    return true;
}

bool widens_for(double error, int decimals, double step) {
    if (!(error != 0) || !std::isfinite(error) || !prints_as_zero(error, decimals)) return false;
    return !(std::fabs(step) > 0) || !std::isfinite(step) ||
           std::fabs(error) >= 1e-5 * std::fabs(step);
}

std::string fmt_widened(double value, int width, int decimals, int wider) {
    const std::string as_laid_out = fmt_fixed(value, width, decimals);
    if (wider <= decimals || as_laid_out.front() == '*') return as_laid_out;
    char text[400];
    const int n = std::snprintf(text, sizeof text, "%.*f", std::min(wider, 60), value);
    if (n < 0 || n >= int(sizeof text)) return stars(width);
    const int columns = std::max(width, n + 1);
    return blanks(std::size_t(columns - n)) + std::string(text, std::size_t(n));
}

std::string with_error(double value, double error) {
    if (!std::isfinite(value)) return "?";
    char text[400]; // the widest double in fixed form has 309 integer digits
    if (!std::isfinite(error) || error < 0) {
        const int n = std::snprintf(text, sizeof text, "%.4f(?)", value);
        return std::string(text, std::size_t(std::clamp(n, 0, int(sizeof text) - 1)));
    }
    const int decimals = value_decimals(value, error, 0);
    long long digits = 0;
    if (error > 0) {
        const double scaled = error * std::pow(10.0, decimals);
        // Beyond 18 digits the error is no error of this value's digits.
        digits = scaled < 1e18 ? std::max(1LL, std::llround(scaled)) : 999999999999999999LL;
    }
    const int n =
        std::snprintf(text, sizeof text, "%.*f(%lld)", error > 0 ? decimals : 4, value, digits);
    return std::string(text, std::size_t(std::clamp(n, 0, int(sizeof text) - 1)));
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

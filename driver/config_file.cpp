// Parsing the configuration file read by STARTG.
#include "driver/config_file.h"

#include <array>

namespace korax {

namespace {

constexpr int MAX_PIXELS = 16384;

// Columns 36 to 39 (or 36 to 65 for the typeface), 1-based; a short line
// reads as if padded with blanks.
std::string_view columns(std::string_view line, std::size_t first, std::size_t last) {
    if (line.size() < first) return {};
    return line.substr(first - 1, last - first + 1);
}

bool starts_comment(std::string_view line) {
    return !line.empty() && line.front() == '!';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<long> read_fixed_integer(std::string_view field) {
    long value = 0;
    bool negative = false, sign_allowed = true;
    for (char c : field) {
        if (c == ' ') continue;
        if (sign_allowed && (c == '+' || c == '-')) {
            negative = c == '-';
            sign_allowed = false;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            sign_allowed = false;
        } else {
            return std::nullopt;
        }
    }
    return negative ? -value : value;
}

std::uint32_t attribute_value(int number) {
    // Indexed by the attribute number. The font service's bits are passed on
    // unchanged; 12 stands for a value the window has no use for and adds nothing.
    static constexpr std::array<std::uint32_t, 16> values = {
        0,     0x80000000, 0x2,   0x1,   0x4, 0x10,   0x20,   0x100,
        0x200, 0x300,      0x400, 0x500, 0x0, 0x1000, 0x2000, 0xFF000};
    return number >= 1 && number <= 15 ? values[static_cast<std::size_t>(number)] : 0;
}

ConfigResult parse_config(std::span<const std::string> lines) {
    ConfigResult result;
    WindowConfig config;
    std::optional<ConfigProblem> problem;
    const auto note = [&](int line, std::string text) {
        if (!problem) problem = ConfigProblem{line, std::move(text)};
    };
    std::size_t i = 0;
    const auto line_number = [&] { return static_cast<int>(i) + 1; };
    // 80 columns and 30 rows need at least one pixel per character cell.
    const auto pixels = [&](int& value, const char* what, int least) {
        const auto v = read_fixed_integer(columns(lines[i], 36, 39));
        if (v && *v >= least && *v <= MAX_PIXELS)
            value = static_cast<int>(*v);
        else
            note(line_number(), std::string("has no usable ") + what + " in line " +
                                    std::to_string(line_number()));
    };
    const auto ended = [&] {
        if (i < lines.size()) return false;
        note(0, "ends before its closing ! line");
        return true;
    };

    while (i < lines.size() && starts_comment(lines[i]))
        ++i;
    if (!ended()) {
        pixels(config.width, "width", 80);
        ++i;
    }
    if (!ended()) {
        pixels(config.height, "height", START_ROWS);
        ++i;
    }
    if (!ended()) {
        const std::string_view face = trim(columns(lines[i], 36, 65));
        if (!face.empty()) config.font = std::string(face);
        ++i;
    }
    for (; !ended() && !starts_comment(lines[i]); ++i) {
        const auto number = read_fixed_integer(columns(lines[i], 36, 39));
        if (!number) {
            note(line_number(),
                 "has no readable font attribute in line " + std::to_string(line_number()));
            continue;
        }
        if (*number < 1 || *number > 15) {
            // Nothing after the offending line is read: the run ends on it.
            result.illegal_attribute = static_cast<int>(*number);
            return result;
        }
        config.attributes += attribute_value(static_cast<int>(*number));
    }
    result.problem = problem;
    if (!problem) result.config = config;
    return result;
}

} // namespace korax

// Parsing of key scripts. Every input command is turned into the key codes the
// keyboard would deliver, so the player only has to hand them out one by one.
#include "window/headless/script.h"

#include "base/utf8.h"
#include "window/frontend.h"
#include "window/window.h"

#include <array>
#include <cctype>
#include <charconv>
#include <utility>

namespace korax {

namespace {

constexpr int ENTER = 13;

struct NamedKey {
    std::string_view name;
    int first, second; // second < 0: a one-code key
};

// Keys without a character arrive as 0 and the key's scan code, as on the keyboard
// the program was designed for.
constexpr std::array<NamedKey, 24> named_keys{{
    {"home", 0, 71}, {"end", 0, 79},       {"pgup", 0, 73},  {"pgdn", 0, 81},   {"up", 0, 72},
    {"down", 0, 80}, {"left", 0, 75},      {"right", 0, 77}, {"ins", 0, 82},    {"del", 0, 83},
    {"f1", 0, 59},   {"f2", 0, 60},        {"f3", 0, 61},    {"f4", 0, 62},     {"f5", 0, 63},
    {"f6", 0, 64},   {"f7", 0, 65},        {"f8", 0, 66},    {"f9", 0, 67},     {"f10", 0, 68},
    {"esc", 27, -1}, {"backspace", 8, -1}, {"tab", 9, -1},   {"enter", 13, -1},
}};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string_view trim_trailing_blanks(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string quoted(std::string_view text) {
    std::string q = "\"";
    q += text;
    q += '"';
    return q;
}

enum class Argument { None, Required, Optional };

struct CommandWord {
    std::string_view word;
    Argument argument;
};

constexpr std::array<CommandWord, 12> command_words{{
    {"type", Argument::Optional}, // `type` alone: an empty answer, i.e. just ENTER
    {"keys", Argument::Required},
    {"enter", Argument::None},
    {"key", Argument::Required},
    {"box", Argument::Required},
    {"shot", Argument::Required},
    {"screen", Argument::Required},
    {"expect", Argument::Required},
    {"close", Argument::None},
    {"wheel", Argument::Required},
    {"click", Argument::Required},
    {"drop", Argument::Required},
}};

// A pixel coordinate: digits only, small enough for any window.
std::optional<int> parse_coordinate(std::string_view text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || text.front() == '-' || ec != std::errc{} || stop != end)
        return std::nullopt;
    return value;
}

// One non-comment line; returns an error text or fills `line`.
std::optional<std::string> parse_line(std::string_view text, ScriptLine& line) {
    const std::size_t end_of_word = text.find(' ');
    const std::string_view word = text.substr(0, end_of_word);
    const bool has_argument = end_of_word != std::string_view::npos;
    const std::string_view argument =
        has_argument ? text.substr(end_of_word + 1) : std::string_view{};

    const CommandWord* found = nullptr;
    for (const CommandWord& c : command_words) {
        if (c.word == word) found = &c;
    }
    if (!found) return "unknown command " + quoted(word);
    if (found->argument == Argument::Required && !has_argument)
        return quoted(word) + " needs an argument";
    if (found->argument == Argument::None && !trim_trailing_blanks(argument).empty())
        return quoted(word) + " takes no argument";

    if (word == "type") {
        line.command = ScriptCommand::Keys;
        line.keys = text_keys(argument);
        line.keys.push_back(ENTER);
    } else if (word == "keys") {
        line.command = ScriptCommand::Keys;
        line.keys = text_keys(argument);
    } else if (word == "enter") {
        line.command = ScriptCommand::Keys;
        line.keys = {ENTER};
    } else if (word == "key") {
        // A key name is invisible if it carries trailing blanks; they mean nothing here.
        auto codes = key_sequence(trim_trailing_blanks(argument));
        if (!codes) return "unknown key name " + quoted(argument);
        line.command = ScriptCommand::Keys;
        line.keys = std::move(*codes);
    } else if (word == "box") {
        // Only the exact word cancels: any other text is a path, however odd.
        line.command = argument == "cancel" ? ScriptCommand::BoxCancel : ScriptCommand::Box;
        line.argument = std::string(argument);
    } else if (word == "close") {
        line.command = ScriptCommand::Close;
    } else if (word == "wheel") {
        const std::string_view what = trim_trailing_blanks(argument);
        const std::size_t blank = what.find(' ');
        const std::string_view notch = what.substr(0, blank);
        if (notch != "up" && notch != "down")
            return "\"wheel\" takes up or down, then optionally two pixel coordinates X Y";
        line.command = ScriptCommand::Wheel;
        line.keys = {0, notch == "up" ? KEY_WHEEL_UP : KEY_WHEEL_DOWN};
        if (blank != std::string_view::npos) {
            const std::string_view where = what.substr(blank + 1);
            const std::size_t second = where.find(' ');
            const auto x = parse_coordinate(where.substr(0, second));
            const auto y = second == std::string_view::npos
                               ? std::nullopt
                               : parse_coordinate(where.substr(second + 1));
            if (!x || !y)
                return "\"wheel\" takes up or down, then optionally two pixel coordinates X Y";
            line.at = true;
            line.x = *x;
            line.y = *y;
        }
    } else if (word == "click") {
        const std::string_view where = trim_trailing_blanks(argument);
        const std::size_t blank = where.find(' ');
        const auto x = parse_coordinate(where.substr(0, blank));
        const auto y = blank == std::string_view::npos ? std::nullopt
                                                       : parse_coordinate(where.substr(blank + 1));
        if (!x || !y) return "\"click\" takes two pixel coordinates X Y";
        line.command = ScriptCommand::Click;
        line.x = *x;
        line.y = *y;
    } else if (word == "drop") {
        line.command = ScriptCommand::Drop;
        line.argument = std::string(argument);
    } else if (word == "shot" || word == "screen") {
        if (trim_trailing_blanks(argument).empty()) return quoted(word) + " needs a file name";
        line.command = word == "shot" ? ScriptCommand::Shot : ScriptCommand::Screen;
        line.argument = std::string(argument);
    } else {
        line.command = ScriptCommand::Expect;
        line.argument = std::string(argument);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<int>> key_sequence(std::string_view name) {
    for (const NamedKey& k : named_keys) {
        if (!equal_ignoring_case(k.name, name)) continue;
        if (k.second < 0) return std::vector<int>{k.first};
        return std::vector<int>{k.first, k.second};
    }
    return std::nullopt;
}

std::vector<int> text_keys(std::string_view text) {
    std::vector<int> keys;
    for (std::size_t i = 0; i < text.size();) {
        // No key types NUL; as a code it would begin a two-code key.
        if (const char32_t c = next_character(text, i); c != 0) keys.push_back(text_key(c));
    }
    return keys;
}

ParsedScript parse_script(std::string_view text) {
    ParsedScript result;
    int number = 0;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view raw = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        ++number;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

        std::size_t start = 0;
        while (start < raw.size() && (raw[start] == ' ' || raw[start] == '\t'))
            ++start;
        if (start == raw.size() || raw[start] == '#') continue;

        ScriptLine line;
        line.number = number;
        if (auto error = parse_line(raw.substr(start), line)) {
            result.error = ScriptError{number, std::move(*error)};
            return result;
        }
        result.lines.push_back(std::move(line));
    }
    return result;
}

} // namespace korax

// The configuration file read by STARTG, as plain data: parsing lines into a
// window configuration. Kept apart from the window so that tests can reach
// every rule; the geometry derived from it is spectrum/screen.h's.
#pragma once

#include "spectrum/screen.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korax {

inline constexpr int DEFAULT_WIDTH = 800;
inline constexpr int DEFAULT_HEIGHT = 540;
inline constexpr const char* DEFAULT_TEXT_FONT = "Courier New";

// A value line the set-up could not use; the run goes on with the default window.
struct ConfigProblem {
    int line = 0;        // 1-based line of the file; the line after the last when it ended early
    std::string problem; // short text for the start screen: "no usable width"
};

struct WindowConfig {
    int width = DEFAULT_WIDTH;
    int height = DEFAULT_HEIGHT;
    int rows = START_ROWS;
    std::string font = DEFAULT_TEXT_FONT;
    std::uint32_t attributes = 0;
};

struct ConfigResult {
    WindowConfig config;
    // Set when an attribute number outside 1..15 was met: the run must end.
    std::optional<int> illegal_attribute;
    // The first problem met; when set, `config` is the default window.
    std::optional<ConfigProblem> problem;
};

// Parses the lines of a configuration file (without line ends). Comment lines
// ("!" in column 1) are skipped only at the top; then come the width, height and
// font lines, attribute lines, and a closing "!" line after which nothing is
// read. Values sit in columns 36-39 (integers, blanks ignored, so a blank field
// is 0) and 36-65 (the typeface). Widths and heights outside 1..16384, or too
// small for an 80 x 30 text grid, fields that hold no integer and a file that
// ends before the closing line are problems: the default window is used.
ConfigResult parse_config(std::span<const std::string> lines);

// The sum value of one font attribute number 1..15.
std::uint32_t attribute_value(int number);

// An integer from a fixed field: blanks ignored, an optional sign, digits.
// nullopt when anything else stands there; a blank field is 0.
std::optional<long> read_fixed_integer(std::string_view field);

} // namespace korax

namespace korax {

// After STARTG and the title screen: draws the light red notice of a missing
// configuration file, or of one the set-up could not use, in the title area and
// moves the text position to row 15. false: nothing to say.
bool draw_config_notice(std::int32_t found);

} // namespace korax

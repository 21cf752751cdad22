// Key scripts of `korax --play`: one command per line, parsed completely before the
// run starts so that a misspelt command fails at once instead of halfway through
// a long session.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

enum class ScriptCommand {
    // Input: consumed as the program asks for keys or opens the file-open box.
    Keys,      // characters of `keys`, ENTER included for `type`
    Box,       // `box PATH`: `path` answers the file-open box
    BoxCancel, // `box cancel`
    Close,     // `close`: the operator closes the window
    Click,     // `click X Y`: `x`, `y` in window pixels
    Wheel,     // `wheel up|down [X Y]`: the notch in `keys`, the pointer in `x`, `y` if `at`
    Drop,      // `drop PATH`: `argument` is the path
    // Inspection: acts on the window as it stands at the next request for input.
    Shot,
    Screen,
    Expect,
};

struct ScriptLine {
    int number = 0; // line of the script file, from 1
    ScriptCommand command = ScriptCommand::Keys;
    std::vector<int> keys; // Keys: the codes to press, in order
    std::string argument;  // Box, Drop: the path; Shot, Screen: the name; Expect: the text
    int x = 0, y = 0;      // Click, Wheel
    bool at = false;       // Wheel: the pointer at x, y rather than at the cursor
    bool is_input() const {
        return command != ScriptCommand::Shot && command != ScriptCommand::Screen &&
               command != ScriptCommand::Expect;
    }
};

struct ScriptError {
    int line = 0;
    std::string message;
};

struct ParsedScript {
    std::vector<ScriptLine> lines;
    std::optional<ScriptError> error; // the first bad line; `lines` is then incomplete
};

// Splits a whole script into commands. Blank lines and lines whose first non-blank
// character is '#' are skipped; a command word may be indented and is followed by
// exactly one blank and its argument, kept verbatim up to the end of the line
// (trailing blanks included; only the CR of a CRLF line end is dropped). Text to
// be typed or expected is UTF-8, as the window's text.
ParsedScript parse_script(std::string_view text);

// The codes one `key NAME` presses: {0, 71} for "home", {27} for "esc" and so on;
// nullopt for a name no key has. Names are matched without regard to case.
std::optional<std::vector<int>> key_sequence(std::string_view name);

// The keys that type `text`, one per UTF-8 character (a byte that is not
// UTF-8 types its Latin-1 character), as the keyboard delivers them; NUL types
// nothing.
std::vector<int> text_keys(std::string_view text);

} // namespace korax

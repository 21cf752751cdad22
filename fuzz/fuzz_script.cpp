// Key scripts of `korax --play` on arbitrary text: the parser must accept a line
// or name it as the first bad one, and every command it accepts must be one the
// player can deliver (key codes of one byte, clicks at pixels, lines in order).
#include "fuzz/fuzz_common.h"
#include "window/frontend.h"
#include "window/headless/script.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korax;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    if (!text.empty() && text.back() != '\n') ++lines;

    const ParsedScript s = parse_script(text);
    if (s.error) {
        fuzz::require(s.error->line >= 1 && s.error->line <= lines, "an error outside the script");
        fuzz::require(!s.error->message.empty(), "an error without a message");
    }
    int previous = 0;
    for (const ScriptLine& line : s.lines) {
        fuzz::require(line.number > previous && line.number <= lines, "lines out of order");
        if (s.error) fuzz::require(line.number < s.error->line, "a line kept after the bad one");
        previous = line.number;
        switch (line.command) {
        case ScriptCommand::Keys:
            for (int k : line.keys)
                // A code of the keyboard (the second of a two-code key may be
                // any byte), or a character beyond ASCII as its code point
                // above text_key_base.
                fuzz::require((k >= 0 && k <= 0xFF) ||
                                  (k >= text_key(0x80) && k <= text_key(0x10FFFF)),
                              "a key code that is neither a byte nor a character");
            break;
        case ScriptCommand::Click:
            fuzz::require(line.x >= 0 && line.y >= 0, "a click at a negative pixel");
            break;
        case ScriptCommand::Wheel:
            fuzz::require(line.keys.size() == 2 && line.keys[0] == 0, "a notch that is no event");
            fuzz::require(!line.at || (line.x >= 0 && line.y >= 0), "a notch at a negative pixel");
            break;
        case ScriptCommand::Shot:
        case ScriptCommand::Screen:
            fuzz::require(!line.argument.empty(), "a picture without a name");
            break;
        default:
            break;
        }
    }
    return 0;
}

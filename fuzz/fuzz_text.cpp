// Text from outside (names on disk, typed keys, header fields, key scripts):
// every byte sequence decodes into characters without a byte lost, lands one
// character per cell of the grid, types the answer it spells, and fills fixed
// fields to their width in characters.
#include "base/format.h"
#include "base/utf8.h"
#include "fuzz/fuzz_common.h"
#include "window/frontend.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using korax::fuzz::require;

std::string encode(std::u32string_view characters) {
    std::string out;
    for (char32_t c : characters)
        korax::append_utf8(out, c);
    return out;
}

std::u32string decode(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t before = i;
        out += korax::next_character(text, i);
        require(i > before && i - before <= 4, "a character of no byte or of more than four");
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::u32string characters = decode(text);
    require(characters.size() == korax::character_count(text), "characters miscounted");
    const std::string utf8 = encode(characters);
    require(decode(utf8) == characters, "written back, the characters change");
    require(encode(decode(utf8)) == utf8, "UTF-8 that does not read back as itself");
    require(characters.size() < size || utf8.size() >= size, "bytes lost in decoding");

    for (std::size_t width : {0u, 5u, 25u, 50u, 80u}) {
        const std::string field = korax::pad(text, width);
        require(korax::character_count(field) == width, "a field of the wrong width");
        require(decode(field).substr(0, std::min(width, characters.size())) ==
                    characters.substr(0, width),
                "a field that does not start with the text");
        const std::string_view tail = korax::last_characters(text, width);
        require(text.ends_with(tail) &&
                    decode(tail) ==
                        characters.substr(characters.size() - std::min(width, characters.size())),
                "the last characters are not the end of the text");
    }
    if (!text.empty()) {
        std::string shorter(text);
        korax::drop_last_character(shorter);
        require(decode(shorter) == characters.substr(0, characters.size() - 1),
                "taking back a character took more or less");
    }

    // Written to the grid: one character per cell, 80 to a row.
    auto& tw = korax::fuzz::test_window();
    korax::fuzz::prepare_run();
    korax::Window& w = tw.window();
    w.clear_window();
    w.write_chars(text);
    std::string row = encode(std::u32string_view(characters).substr(0, 80));
    row.erase(row.find_last_not_of(' ') == std::string::npos ? 0 : row.find_last_not_of(' ') + 1);
    require(tw.row(1) == row, "written text not in its cells");

    // Typed: the answer is what the keys spell, up to the first ENTER.
    std::u32string expected;
    for (char32_t c : characters) {
        if (c == 13) break;
        if (c == 0) continue;
        tw.front_end.keys.push_back(korax::text_key(c));
        if (c == 8) {
            if (!expected.empty()) expected.pop_back();
        } else if (c >= 32 && !(c >= 127 && c < 160)) {
            expected += c;
        }
    }
    tw.front_end.keys.push_back(13);
    w.set_text_position(2, 1);
    require(w.read_line() == encode(expected), "a typed answer unlike its keys");
    return 0;
}

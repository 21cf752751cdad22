// Text is UTF-8 everywhere in KORAX: typed and chosen names, the character grid,
// screen dumps and the files written. Bytes that are not UTF-8 (a name on disk
// written by another program, a header field of an old file) are taken one by
// one as Latin-1 characters, so that no byte is ever lost or merged.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korax {

// The character starting at text[i], advancing i past it (i < text.size()).
// A byte that does not start a well-formed UTF-8 sequence (a stray
// continuation byte, an overlong form, a surrogate, a value beyond U+10FFFF,
// a sequence cut short) is the Latin-1 character of that byte alone.
char32_t next_character(std::string_view text, std::size_t& i);

void append_utf8(std::string& out, char32_t c);

// Number of characters as next_character counts them.
std::size_t character_count(std::string_view text);

// The first / last n characters of `text` (all of it when it has fewer).
std::string_view first_characters(std::string_view text, std::size_t n);
std::string_view last_characters(std::string_view text, std::size_t n);

// `text` without its last character (empty text stays empty).
void drop_last_character(std::string& text);

} // namespace korax

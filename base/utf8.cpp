// UTF-8 decoding with a Latin-1 reading of every byte that is not part of a
// well-formed sequence.
#include "base/utf8.h"

#include <vector>

namespace korax {

char32_t next_character(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    std::size_t length = 0;
    char32_t c = 0, least = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, c = b0 & 0x1F, least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, c = b0 & 0x0F, least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, c = b0 & 0x07, least = 0x10000;
    }
    if (length == 0 || i + length > text.size()) {
        ++i;
        return b0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return b0;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return b0;
    }
    i += length;
    return c;
}

void append_utf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::size_t character_count(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++n)
        next_character(text, i);
    return n;
}

std::string_view first_characters(std::string_view text, std::size_t n) {
    std::size_t i = 0;
    for (std::size_t k = 0; k < n && i < text.size(); ++k)
        next_character(text, i);
    return text.substr(0, i);
}

namespace {

// Byte offsets where the characters of `text` start.
std::vector<std::size_t> starts(std::string_view text) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < text.size();) {
        at.push_back(i);
        next_character(text, i);
    }
    return at;
}

} // namespace

std::string_view last_characters(std::string_view text, std::size_t n) {
    if (n == 0) return text.substr(text.size());
    const auto at = starts(text);
    if (at.size() <= n) return text;
    return text.substr(at[at.size() - n]);
}

void drop_last_character(std::string& text) {
    const auto at = starts(text);
    if (!at.empty()) text.resize(at.back());
}

} // namespace korax

// The character cells behind the window's text: what screen dumps and tests read.
#include "window/text_grid.h"

#include "base/utf8.h"

#include <algorithm>
#include <cassert>

namespace korax {

void TextGrid::resize(int rows) {
    assert(rows >= 0 && "a text grid cannot have negative rows");
    m_rows = rows;
    m_cells.assign(std::size_t(rows) * columns, ' ');
}

void TextGrid::clear() {
    std::fill(m_cells.begin(), m_cells.end(), ' ');
}

void TextGrid::clear_row(int row) {
    assert(row >= 1 && row <= m_rows);
    std::fill_n(m_cells.begin() + std::ptrdiff_t(index(row, 1)), columns, ' ');
}

void TextGrid::scroll_up() {
    if (m_rows == 0) return;
    std::copy(m_cells.begin() + columns, m_cells.end(), m_cells.begin());
    clear_row(m_rows);
}

namespace {

// The cells of one row as UTF-8, all 80 of them.
std::string encode(const char32_t* cells) {
    std::string text;
    for (int c = 0; c < TextGrid::columns; ++c)
        append_utf8(text, cells[c]);
    return text;
}

} // namespace

std::string TextGrid::row_text(int row) const {
    assert(row >= 1 && row <= m_rows);
    std::string text = encode(m_cells.data() + index(row, 1));
    const auto end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

bool TextGrid::contains(std::string_view text) const {
    // Read the way the window reads what it writes, so that bytes that are not
    // UTF-8 match the characters they were drawn as.
    std::string wanted;
    for (std::size_t i = 0; i < text.size();)
        append_utf8(wanted, next_character(text, i));
    for (int r = 1; r <= m_rows; ++r) {
        // Whole characters only: a UTF-8 match always starts at a character.
        if (encode(m_cells.data() + index(r, 1)).find(wanted) != std::string::npos) return true;
    }
    return false;
}

} // namespace korax

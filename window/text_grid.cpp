// The character cells behind the window's text: what screen dumps and tests read.
#include "window/text_grid.h"

#include <algorithm>
#include <cassert>

namespace korax {

void TextGrid::resize(int rows) {
    assert(rows >= 0 && "a text grid cannot have negative rows");
    m_rows = rows;
    m_cells.assign(std::size_t(rows) * columns, ' ');
}

void TextGrid::clear() { std::fill(m_cells.begin(), m_cells.end(), ' '); }

void TextGrid::clear_row(int row) {
    assert(row >= 1 && row <= m_rows);
    std::fill_n(m_cells.begin() + std::ptrdiff_t(index(row, 1)), columns, ' ');
}

void TextGrid::scroll_up() {
    if (m_rows == 0) return;
    std::copy(m_cells.begin() + columns, m_cells.end(), m_cells.begin());
    clear_row(m_rows);
}

std::string TextGrid::row_text(int row) const {
    assert(row >= 1 && row <= m_rows);
    const auto first = m_cells.begin() + std::ptrdiff_t(index(row, 1));
    std::string text(first, first + columns);
    const auto end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

bool TextGrid::contains(std::string_view text) const {
    for (int r = 1; r <= m_rows; ++r) {
        const std::string_view line(m_cells.data() + index(r, 1), columns);
        if (line.find(text) != std::string_view::npos) return true;
    }
    return false;
}

} // namespace korax

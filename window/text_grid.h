// The 80-column character grid of the window. Every character written through the
// text operations lands in its cell; the cells scroll together with the pixels.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korax {

class TextGrid {
  public:
    static constexpr int columns = 80;
    void resize(int rows);
    int rows() const { return m_rows; }
    // row and column from 1; one character (a Unicode code point) per cell
    char32_t at(int row, int column) const { return m_cells[index(row, column)]; }
    void set(int row, int column, char32_t c) { m_cells[index(row, column)] = c; }
    void clear();
    void clear_row(int row);
    void scroll_up(); // row 1 is lost, the last row becomes blank
    // One row as UTF-8 text with trailing blanks removed.
    std::string row_text(int row) const;
    // True when the UTF-8 `text` stands in some row, all 80 cells of it counted.
    bool contains(std::string_view text) const;

  private:
    std::size_t index(int row, int column) const {
        return std::size_t(row - 1) * columns + std::size_t(column - 1);
    }
    int m_rows = 0;
    std::vector<char32_t> m_cells;
};

} // namespace korax

// Free-format number pairs of two-column ASCII spectra, read the way a list-
// directed read takes them: blanks, tabs or one comma between the numbers, a
// pair may continue on the next line, the rest of a line after the second
// number is ignored, and a line that cannot be read is skipped.
#pragma once

#include <optional>
#include <string_view>

namespace korax {

struct NumberPair {
    double x = 0; // the frequency, at full precision
    float y = 0;  // the intensity, rounded once from its decimal form
};

// One number token: optional sign, digits with an optional point, optional
// exponent with E, e, D or d. "nan", "inf", hexadecimal forms and values beyond
// the 32-bit float range are not numbers here; values too small for it read as 0.
std::optional<double> parse_real(std::string_view token);
std::optional<float> parse_real32(std::string_view token);

class PairScanner {
  public:
    explicit PairScanner(std::string_view text)
        : m_p(text.data()), m_end(text.data() + text.size()),
          m_ends_line(!text.empty() && text.back() == '\n') {}
    // The next readable pair; nullopt at the end of the text (a pair cut off by
    // the end is not counted).
    std::optional<NumberPair> next();
    // The same into `pair`; false where next() gives nullopt (`pair` is then
    // left in any state). The reader's own loop, without the optional.
    bool read(NumberPair& pair);
    // After next() gave nullopt: where scanning must begin again when the text
    // goes on (it ends at a line end): the start of a pair cut off by the end,
    // else the end. Everything before it has been taken.
    const char* resume_point() const { return m_resume; }

  private:
    void skip_line();
    void skip_blanks();
    // The number at the scan position, which must end at a blank, tab,
    // comma, line end or the end of the text.
    template <class T> bool number(T& out);

    const char* m_p;
    const char* m_end;
    const char* m_resume = nullptr;
    bool m_ends_line; // the text ends with a line end: the shortcut may read up to it
};

} // namespace korax

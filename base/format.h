// Numbers in fixed fields, as every screen and text file writes them. A value
// too wide for its field fills the field with asterisks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korax {

// Iw and %wd: integer right-aligned in w columns.
std::string fmt_int(long long value, int width);
// Fw.d and %w.df: fixed point, d decimals, right-aligned in w columns.
std::string fmt_fixed(double value, int width, int decimals);
// Exponent form with one digit before the point, as %w.dE: " 1.234E+03".
std::string fmt_exp(double value, int width, int decimals);
// %#w.0f: no decimals but a trailing decimal point ("1234567.").
std::string fmt_point(double value, int width);
// Text padded with blanks (or cut) to exactly `width` characters (UTF-8).
std::string pad(std::string_view text, std::size_t width);
// Text without trailing blanks.
std::string_view trim_right(std::string_view text);
// A heading: five underscores, the words, then underscores to 80 columns.
std::string heading(std::string_view spaced_words);
std::string blanks(std::size_t n);

// Appends formatted numbers without allocating; for files of millions of lines.
// Returns the number of characters written (always `width`).
int put_fixed(char* out, double value, int width, int decimals);

} // namespace korax

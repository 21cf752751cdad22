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

// ---- precision that follows the error ----
// A frequency known to +-error is written with the decimals that show the error
// with two significant digits: a fit weighs lines by 1/error^2, so 0.00006 and
// 0.00014 must not both read 0.0001, and an error must never read 0.

// The decimals that show `error` with two significant digits as it rounds:
// 0.00054 -> 5, 0.000996 -> 4 (it rounds to 0.0010), 2.5 -> 1; 0 from 9.95 on
// (whole numbers keep all their digits). An error that is not positive and
// finite has no digits to show: 0.
int error_decimals(double error);
// The decimals of a value known to +-error: error_decimals(error), at least
// `at_least`, and no more than the value's 15 significant digits reach (a
// double holds no more; beyond them the error is rounding). `at_least` when the
// error is zero, negative or not finite.
int value_decimals(double value, double error, int at_least);
// Whether `value` with `decimals` decimals prints as zero ("0.00000", "-0.000").
bool prints_as_zero(double value, int decimals);
// Whether a fixed layout of `decimals` decimals must widen to show `error`:
// the error is nonzero and prints as zero there, and it is at least 1e-5 of
// the axis `step`. Less than that is rounding (a noiseless line: the real
// errors of 16-bit data are 1e-4 of a step and more) and keeps the layout, so
// that an axis whose step the decimals resolve writes what it always has.
bool widens_for(double error, int decimals, double step);
// Fw.d of a fixed layout given more decimals: as fmt_fixed(value, width,
// decimals) when `wider` is not more than `decimals`; otherwise the value with
// `wider` decimals, right-aligned in `width` columns or in one more than it
// needs when that is more, so that a blank still parts it from what stands
// before. A value whose Fw.d overflows (asterisks) keeps its asterisks.
std::string fmt_widened(double value, int width, int decimals, int wider);
// A value and its error in the notation of the field, the error in units of
// the value's last digit: 240046.03188(98) is 240046.03188 +- 0.00098. The
// value gets the decimals of value_decimals(value, error, 0); where those are
// capped, the error shows as (1) rather than (0). A negative or non-finite
// error: the value with 4 decimals and "(?)"; a zero error: "(0)".
std::string with_error(double value, double error);

// Appends formatted numbers without allocating; for files of millions of lines.
// Returns the number of characters written (always `width`).
int put_fixed(char* out, double value, int width, int decimals);

} // namespace korax

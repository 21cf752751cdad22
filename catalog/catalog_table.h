// The catalogue as a table for other programs: `korax catalog FILE [--from F] [--to F]`.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace korax {

// Writes the lines of the catalogue `path` whose frequency lies in [from, to]
// (pass -inf / +inf for an absent bound) as tab-separated columns after one
// header row, in the file's order and as the file gives them (a line in cm-1
// keeps its frequency and its negative uncertainty); the count of lines read,
// skipped and cut goes to `err`. Every row has the 11 columns of the header.
// Returns 0, or 1 when the file cannot be read as a catalogue, memory ran out
// or the table could not be written (reason on `err`); nothing is thrown.
int write_catalog_table(const std::string& path, double from, double to, std::ostream& out,
                        std::ostream& err);

// A number as the table writes it: with 4 decimals, as catalogues write their
// fields, where that keeps the value exactly, otherwise in the shortest form
// that reads back to it (with an exponent where that is shorter).
std::string table_number(double v);
// Text with the bytes that would break a tab-separated row or a terminal
// escaped: tab "\t", CR "\r", LF "\n", the backslash "\\", every other control
// byte "\xHH". Everything else, UTF-8 included, is kept.
std::string table_text(std::string_view text);

} // namespace korax

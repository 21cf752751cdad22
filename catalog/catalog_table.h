// The catalogue as a table for other programs: `korax catalog FILE [--from F] [--to F]`.
#pragma once

#include <ostream>
#include <string>

namespace korax {

// Writes the lines of the catalogue `path` whose frequency lies in [from, to]
// (pass -inf / +inf for an absent bound) as tab-separated columns after one
// header row, in the file's order; the count of skipped lines goes to `err`.
// Returns 0, or 1 when the file cannot be read as a catalogue (reason on `err`).
int write_catalog_table(const std::string& path, double from, double to, std::ostream& out,
                        std::ostream& err);

} // namespace korax

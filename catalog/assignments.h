// The assignment file: one measured line per record, as the fitting programs
// read it — twelve 3-column quantum-number fields (upper state first, then
// lower; 36 columns), then frequency, uncertainty and weight as free-format
// numbers, then a comment naming the spectrum. The file is kept in memory as
// its lines and written back whole through SafeFile.
#pragma once

#include "catalog/catalog.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// One record without its line end: the quantum numbers in columns 1..36, then
// from column 37 the frequency, its uncertainty and the weight as free-format
// numbers. The uncertainty is written with two significant digits (an exponent
// below 1e-12 and from 99.5 on), the frequency with at least 4 decimals and at
// least to the uncertainty's second digit (no further than a double's 15
// significant digits reach), the weight with 4 decimals (two significant digits with an
// exponent where 4 decimals would show 0). A frequency in cm-1 (`unit`) gets a
// negative uncertainty, which tells the fitting program so. nullopt when a
// quantum number does not fit its 3 columns, the uncertainty is not above 0
// (it would weigh the line infinitely), or a number is not finite.
std::optional<std::string> lin_line(const QuantumNumbers& q, double freq, double unc, double weight,
                                    std::string_view comment, FrequencyUnit unit);

// True when the record's first 36 columns hold exactly these quantum numbers
// (the fields past 2n blank or 0).
bool same_transition(std::string_view record, const QuantumNumbers& q);

// The twelve quantum-number fields of a record (blank fields 0); nullopt when
// one cannot be read. And the same fields for a prediction's quantum numbers:
// a record and a prediction are the same transition when both agree.
std::optional<std::array<int, 12>> record_fields(std::string_view record);
std::array<int, 12> transition_fields(const QuantumNumbers& q);

struct AssignmentFile {
    std::vector<std::string> lines; // without line ends
    std::string eol = "\r\n";       // the file's own line end, kept when it is rewritten
    bool exists = false;
    std::string error; // empty: read (or absent)
};
// Reads an existing assignment file; a missing file gives an empty one.
AssignmentFile read_assignments(const std::string& path);

// Writes `lines`, each followed by `eol`, to `path` through SafeFile (replacing
// the file only once everything is written). Returns the reason of a failure,
// empty on success; on failure the old file is as it was.
[[nodiscard]] std::string write_assignments(const std::string& path,
                                            const std::vector<std::string>& lines,
                                            std::string_view eol = "\r\n");

} // namespace korax

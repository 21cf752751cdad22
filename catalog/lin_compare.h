// What was assigned against what the fit now predicts: every record of an
// assignment file with the prediction of its transition in a catalogue, as
// the round trip with the fitting program needs it after each new fit —
// which assigned lines now disagree, by how many of their errors. Records
// whose transition the catalogues lack are kept, not dropped.
#pragma once

#include "catalog/catalog.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace korax {

// How far an assigned line lies from its prediction, in errors of the record.
enum class Agreement : std::uint8_t { Within1, Within3, Beyond3 };
Agreement agreement_of(double ratio);

struct ComparedRecord {
    std::size_t line = 0;         // in the assignment file, from 1
    std::array<int, 12> fields{}; // the quantum numbers as the record codes them
    double observed = 0;          // as the record gives it
    double error = 0;             // the record's uncertainty, without its sign
    bool wavenumbers = false;     // the record is in cm-1 (its uncertainty is negative)
    // The prediction of its transition: catalogue (index into the catalogues
    // compared) and line; none when no catalogue holds the transition.
    std::optional<std::size_t> catalog, catalog_line;
    double predicted = 0; // in the record's unit
    double o_c = 0;       // observed - predicted, in the record's unit
    double ratio = 0;     // o_c / error (infinite for a record of error 0 that differs)
};

struct AssignmentComparison {
    // Those with a prediction first, the largest |o-c|/error first (then in
    // the file's order), then those without one, in the file's order.
    std::vector<ComparedRecord> records;
    std::size_t matched = 0, missing = 0;
    std::size_t within1 = 0, within3 = 0, beyond3 = 0;
    std::size_t catalogs = 0; // compared with
    std::string error;        // empty: compared; else why the file could not be read
};

// Compares every record of the assignment file with the catalogues, the
// first catalogue that holds a record's transition giving its prediction (of
// several lines of one transition, the one nearest the record). Frequencies in
// cm-1 are compared in MHz, as the catalogues keep them, and reported in the
// record's unit. A missing file, or one that is not an assignment file, gives
// `error`; nothing is thrown but std::bad_alloc.
AssignmentComparison compare_assignments(const std::string& lin_path,
                                         std::span<const Catalog* const> catalogs);

// Decimals that show an error's second significant digit: at least 4, at most 12.
int decimals_for_error(double error);

// "37 records: 30 within 1 error, 5 within 3, 2 beyond 3; 1 not in the catalogue"
std::string comparison_summary(const AssignmentComparison& c);
// The quantum numbers of a compared record, "20 1 19 <- 19 1 18", `n` a state.
std::string record_qn_text(const ComparedRecord& r, int n);

// `korax catalog --lin LIN CAT`: the comparison as a tab-separated table with
// one header row (upper and lower quantum numbers joined by commas, observed,
// error, predicted, o-c, o-c/error, unit, line of the record), the summary on
// `err`. Returns 0, or 1 when either file cannot be read, memory ran out or
// the table could not be written.
int write_comparison_table(const std::string& lin_path, const std::string& catalog_path,
                           std::ostream& out, std::ostream& err);

} // namespace korax

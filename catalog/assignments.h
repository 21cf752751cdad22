// The assignment file: one measured line per record, as the fitting programs
// read it — twelve 3-column quantum-number fields (upper state first, then
// lower; 36 columns), then frequency, uncertainty and weight as free-format
// numbers, then a comment naming the spectrum. The file is read as a stream
// and written back through SafeFile, a line at a time.
#pragma once

#include "catalog/catalog.h"

#include <array>
#include <cstddef>
#include <functional>
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
// `weight_decimals` other than 4 writes the weight with exactly that many (the
// weights of a blend, see BlendWeights).
std::optional<std::string> lin_line(const QuantumNumbers& q, double freq, double unc, double weight,
                                    std::string_view comment, FrequencyUnit unit,
                                    int weight_decimals = 4);

// The weights of the records of a blend (one measured line assigned to several
// predictions), in their order, summing to 1: as decimals of `decimals` places
// (4, more when the smallest weight needs them for two significant digits, at
// most 12), chosen so that the written digits add up to exactly 1. No weight
// is 0: a line 10^-20 as strong gets the last place's unit.
struct BlendWeights {
    std::vector<double> values;
    int decimals = 4;
};
// Proportional to `linear` (all 0 or not finite: equal).
BlendWeights normalised_weights(const std::vector<double>& linear);
// Proportional to 10^lgint, or equal (1/N) when `equal`.
BlendWeights blend_weights(const std::vector<double>& lgint, bool equal);
// A weight of a blend as its record holds it, with `decimals` places.
std::string weight_text(double weight, int decimals);

// The numbers of a record as the fitting program reads them: from column 37,
// free-format numbers separated by blanks or commas, frequency, uncertainty
// and weight (1 when the record has none). nullopt for a line that is no
// record.
struct RecordNumbers {
    std::array<int, 12> fields{};
    double freq = 0, unc = 0, weight = 1;
    bool has_weight = false;
};
std::optional<RecordNumbers> record_numbers(std::string_view line);
// True when two records of a file, one after the other (comments and blank
// lines between them do not part them), belong to one blend: the same
// frequency, and weights below 1 (a weight of 1 is a line of its own).
bool same_blend(const RecordNumbers& a, const RecordNumbers& b);

// True when the record's first 36 columns hold exactly these quantum numbers
// (the fields past 2n blank or 0).
bool same_transition(std::string_view record, const QuantumNumbers& q);

// The twelve quantum-number fields of a record (blank fields 0); nullopt when
// one cannot be read. And the same fields for a prediction's quantum numbers:
// a record and a prediction are the same transition when both agree.
std::optional<std::array<int, 12>> record_fields(std::string_view record);
std::array<int, 12> transition_fields(const QuantumNumbers& q);

// The longest line of an assignment file that is read: a record with the
// longest comment (a spectrum's path) fits many times over, and a file of one
// endless line costs no more memory than this.
inline constexpr std::size_t MAX_ASSIGNMENT_LINE = 65536;

// True for a line an assignment file may hold: a record (the twelve
// quantum-number fields of columns 1..36 readable, a frequency after them), a
// comment ("!" first after any blanks) or a blank line. Control bytes other
// than tab make any line unreadable: such a file is no assignment file.
bool assignment_line(std::string_view line);

struct AssignmentScan {
    bool exists = false;
    std::size_t lines = 0;
    std::string error; // empty: read (or absent); else why not, after the file's name
};
// One line without its line end, and that end ("\r\n", "\n", or "" for a last
// line without one); false stops the scan.
using AssignmentLine = std::function<bool(std::string_view line, std::string_view end)>;
// Reads an assignment file line by line, in blocks, with the memory of one
// block and one line. A missing file reads as an empty one; a read error at
// any read, a line longer than MAX_ASSIGNMENT_LINE and a line that is not
// assignment_line() end the scan with `error` ("not an assignment file: line
// 3 is neither a record nor a comment").
AssignmentScan scan_assignments(const std::string& path, const AssignmentLine& each = {});

enum class AssignStatus { Written, AssignedAlready, Missing, Failed };
struct AssignOutcome {
    AssignStatus status = AssignStatus::Failed;
    bool replaced = false; // Written: a line of the same transition gave way
    // AssignedAlready, and Written after a replacement or removal: how many
    // records the blend of the transition's line holds in the file (1: a line
    // of its own).
    std::size_t blend = 1;
    // Written by remove_assignment: the transitions of the records removed.
    std::vector<std::array<int, 12>> removed;
    std::string line; // AssignedAlready: the line that holds the transition
    // Failed: why, in the system's words; Written: what went wrong after the
    // file was in place (the folder not synced), else empty.
    std::string text;
};
// Adds `record` (the transition `q`) to the assignment file at `path`, or puts
// it in place of the first line of the same transition when `replace`;
// without `replace` such a line gives AssignedAlready and nothing is written.
// The file is read back and written under its FileLock (waiting up to 10 s,
// `waiting` called when the wait begins), so that other programs adding to it
// lose nothing; every other line keeps its bytes and its own line end, and a
// new record takes the line end of the file's first line (CR LF in a new
// file). Any failure, of any read or write, leaves the file as it was.
// When that line is one of a blend (same_blend), `replace` updates every record
// of the blend: each keeps its quantum numbers and weight and takes the new
// frequency, uncertainty and comment — one measured line stays one frequency.
AssignOutcome write_assignment(const std::string& path, const QuantumNumbers& q,
                               std::string_view record, bool replace,
                               const std::function<void()>& waiting = {});

// Several records written together, adjacent, in one write of the file (a
// blend, or the lines of one profile fit), as write_assignment does for one:
// AssignedAlready (the first line of one of their transitions) without
// `replace`; with it every first line of their transitions gives way, the
// records take the place of the first of those lines (after the rest of a
// blend it was inside), and the other records of any blend that lost one
// keep their bytes with their weights normalised again to sum 1.
struct Assignment {
    QuantumNumbers q;
    std::string record;
};
AssignOutcome write_assignments(const std::string& path, const std::vector<Assignment>& records,
                                bool replace, const std::function<void()>& waiting = {});

// Removes the first line of the transition `q` (Missing when the file holds
// none). When that line is one of a blend, `whole_blend` removes the blend's
// other records too; otherwise they stay with their weights normalised again
// to sum 1. One write, under the lock, as write_assignment.
AssignOutcome remove_assignment(const std::string& path, const QuantumNumbers& q, bool whole_blend,
                                const std::function<void()>& waiting = {});

// Removes the first line of each of the transitions `qs` in one write, as
// remove_assignment does for one: a record that was part of a blend leaves
// the blend's other records with their weights normalised again. Missing
// when the file holds none of them; the outcome's `removed` lists those it held.
AssignOutcome remove_assignments(const std::string& path, const std::vector<QuantumNumbers>& qs,
                                 const std::function<void()>& waiting = {});

} // namespace korax

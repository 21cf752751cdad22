// The viewer's assignment keys: T writes the measurement just made, with the
// prediction it is assigned to, into the assignment file; D sets the
// tolerance, threshold, uncertainty, weight and the file, which the first T
// asks for when D has not named it.
#pragma once

#include "catalog/assignments.h"
#include "catalog/overlay.h"
#include "viewer/viewer_state.h"

#include <functional>
#include <optional>
#include <string>

namespace korax {

// D: the catalogue settings dialog.
void key_settings(ViewerState& v);
// T: assigns the last measurement.
void key_assign(ViewerState& v);

// Marks the lines of every open catalogue whose transition the assignment
// file at `path` holds.
void mark_from_file(const std::string& path);

// The record the last T wrote to the assignment file and the measured
// frequency in it (record empty before any), so that copying the measurement
// can carry its assignment along.
struct LastAssignment {
    std::string record;
    double freq = 0;
};
const LastAssignment& last_assignment();

// A record T's writer writes: the prediction, its quantum numbers and the
// numbers of the measured line.
struct PendingRecord {
    LineRef r;
    QuantumNumbers q;
    double freq = 0, unc = 0, weight = 1;
    int weight_decimals = 4;
};
// What the records are, as the rows after the write name them.
enum class RecordsKind { Measurement, Blend, FittedLines, Series };
struct RecordsWritten {
    AssignOutcome outcome;
    std::string previous; // the line a record replaced after the operator's yes
};
// T's writer: the records in one write of the assignment file (asking for the
// file at the first write, and before replacing a transition there already),
// the lines marked assigned, `redraw` called, and the outcome on the status
// rows. nullopt when nothing was written (the rows say why).
std::optional<RecordsWritten> write_records(ViewerState& v,
                                            const std::vector<PendingRecord>& pending,
                                            RecordsKind kind, const std::function<void()>& redraw);

} // namespace korax

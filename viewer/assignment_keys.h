// The viewer's assignment keys: T writes the measurement just made, with the
// prediction it is assigned to, into the assignment file; D sets the
// tolerance, threshold, uncertainty, weight and the file, which the first T
// asks for when D has not named it.
#pragma once

#include "viewer/viewer_state.h"

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

} // namespace korax

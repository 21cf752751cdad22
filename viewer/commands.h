// LOOKFM, HELP and the commands of the viewer's keys that live in files of
// their own (measurement, smoothing, append). The key table
// (viewer/key_table.cpp) binds them to their keys and redraws after them.
#pragma once

#include "viewer/session_start.h"
#include "viewer/viewer_state.h"

#include <cstdint>

namespace korax {

// The viewer itself, with what the command line named for the run.
void LOOKFM(const SessionStart& start);

// Line measurement (measure.cpp): O, 9, =; the 0 key's dialog, which starts
// PEAKFINDER's level setting (levels.cpp) on a negative answer.
void key_measure(ViewerState& v);
void key_cursor_as_measurement(ViewerState& v);
void key_average(ViewerState& v);
void key_fitting_width(ViewerState& v);
void peakfinder_levels(ViewerState& v);

// Smoothing and baseline subtraction (baseline.cpp): N and B, screens included.
void key_smooth(ViewerState& v);
void key_baseline(ViewerState& v);

// Append (append.cpp): &.
void key_append(ViewerState& v);

// Help (help.cpp).
void HELP(std::int16_t& rows);

} // namespace korax

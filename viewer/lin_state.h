// The assignment file as the session knows it before the first T: named with
// --lin, remembered for the spectrum's folder from an earlier run, or chosen
// at D; its lines are marked as soon as it is known. And the catalogue
// settings kept between runs, read at the first plot and saved when D or the
// first T's file choice changes them.
#pragma once

#include "viewer/session_start.h"

#include <cstddef>
#include <string>

namespace korax {

// At the first plot of a run: the saved settings of `start.state_file` (a
// damaged file is ignored with a notice on the identification row), then the
// --lin file (refused by name when it is no assignment file), else the file
// remembered for the spectrum's folder. Returns the notices for that row,
// "; "-joined.
std::string start_catalog_state(const SessionStart& start);
// When no assignment file is known yet: the one remembered for the current
// spectrum's folder, taken and its lines marked (C calls this before it opens
// a catalogue). A remembered file that is no longer an assignment file is not
// taken.
void adopt_remembered_lin();
// The operator chose `path` (at D, or at the first T): it becomes the file,
// its lines are marked, and it is remembered for the spectrum's folder (saved
// with save_catalog_state).
void lin_file_chosen(const std::string& path);
// True when T may write to the known assignment file without asking: one
// chosen at D or T, or one from --lin or an earlier run that does not exist
// (taken as chosen then). False when there is none, or when such a file
// exists and the operator has not yet said yes to adding to it.
bool lin_file_ready();
// Writes the settings and the folders' files when they differ from what was
// last read or written; a failure is shown on the identification row.
void save_catalog_state();
// How many lines of catalogue `catalog` the assignment file holds, as the
// C dialog reports it ("; 2 assigned in ocs.lin"), empty without a file.
std::string assigned_summary(std::size_t catalog);

} // namespace korax

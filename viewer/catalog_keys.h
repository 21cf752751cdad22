// The viewer's side of line catalogues: the overlay keys C, V, v, ], [, }, {,
// the predicted lines drawn in the plot and the identification row on the
// key-line row. The key table holds the keys; T and D are the assignment keys'.
// Catalogues and their settings live for the whole run, like the measurement
// memory; with none open the viewer looks and behaves as it always has.
#pragma once

#include "catalog/overlay.h"
#include "viewer/session_start.h"
#include "viewer/viewer_state.h"

#include <cstdint>
#include <string>
#include <vector>

namespace korax {

CatalogSession& catalog_session();

// Notes a measuring key (O, X, 9, =) on its way to its command, so that T knows
// what it assigns.
void note_measuring_key(std::int16_t code);
// At the first entry of a run into the viewer: the saved settings, the --lin
// file and the catalogues named on the command line; what could not be opened
// is named on the identification row of the first plot. Later calls do nothing.
void open_startup_catalogs(const SessionStart& start);
// Draws the predicted lines into the freshly cleared plot area.
void catalog_overlay(const ViewerState& v);
// Rewrites the identification row for the prediction nearest to the cursor, or
// to a measurement just made when `in_plot_redraw` (a redraw of the plot
// after O) asks for it.
void catalog_identification(const ViewerState& v, bool in_plot_redraw);

// C: the catalogue dialog; a catalogue that cannot be opened is reported and
// the viewer goes on.
void key_open(ViewerState& v);
// ] [ } {: the cursor to the next prediction above or below it (`previous`),
// of any intensity or only at or above the threshold (`strong_only`); the
// display moves when the line is off screen.
void key_jump(ViewerState& v, bool previous, bool strong_only);
// The cursor to frequency f (in the spectrum's unit), the display moved to
// centre it, its width kept, when f lies off screen.
void move_cursor_to(ViewerState& v, double f);
// The display centred on f with its width kept (held inside the spectrum),
// the cursor at f; draws nothing.
void centre_display_on(ViewerState& v, double f);

// ; : every open catalogue read again from its file (one that cannot be read
// stays as it was), and the assignment file compared with the new predictions.
void key_reload_catalogs(ViewerState& v);
// ' : the cursor to the next assigned line of the last comparison, the one
// farthest from its prediction (in errors) first, then those no catalogue
// holds; the rows say how far it lies, or why there is nothing to show.
void key_worst_assignment(ViewerState& v);
// Compares the assignment file with the open catalogues, those of `first`
// (just read again) before the others, and keeps the result for the overlay's
// colours and for '. `text` is the summary ("6 records: 2 within 1 error,
// ..."), or why nothing was compared.
struct ComparisonNote {
    bool compared = false;
    std::string text;
};
ComparisonNote compare_with_assignments(const std::vector<std::size_t>& first);
// The comparison given up: the lines marked are of another file, or anew.
void forget_comparison();

} // namespace korax

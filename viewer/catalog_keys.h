// The viewer's side of line catalogues: the keys C, V, v, ], [, }, {, T and D,
// the overlay in the plot and the identification row on the key-line row.
// Catalogues and their settings live for the whole run, like the measurement
// memory; with none open the viewer looks and behaves as it always has.
#pragma once

#include "catalog/overlay.h"
#include "viewer/viewer_state.h"

#include <cstdint>
#include <string>

namespace korax {

CatalogSession& catalog_session();

// The catalogue keys of the viewer's key table: C opens a catalogue, ] [ } {
// move the cursor to the next or previous prediction (strong ones only), D
// the settings, T assigns the last measurement.
void key_open(ViewerState& v);
void key_jump(ViewerState& v, bool previous, bool strong_only);
void key_settings(ViewerState& v);
void key_assign(ViewerState& v);
// Notes a measuring key (O, 9, =) on its way to its command, so that T knows
// what it assigns.
void note_measuring_key(std::int16_t code);
// Draws the predicted lines into the freshly cleared plot area. The first call
// of a run opens the catalogues named on the command line.
void catalog_overlay(const ViewerState& v);
// Rewrites the identification row for the prediction nearest to the cursor, or
// to a measurement just made; `after_measure` is true in a redraw of the plot.
void catalog_identification(const ViewerState& v, bool in_plot_redraw);

// The record the last T wrote to the assignment file and the measured
// frequency in it (record empty before any), so that copying the measurement
// can carry its assignment along.
struct LastAssignment {
    std::string record;
    double freq = 0;
};
const LastAssignment& last_assignment();

} // namespace korax

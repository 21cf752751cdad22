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

// Handles the catalogue keys (true: the key was one of them) and notes the
// measuring keys on their way to the viewer.
bool catalog_key(ViewerState& v, std::int16_t code);
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

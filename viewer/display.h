// What the viewer shows: plot area, trace, cursor, scale, status rows, key line,
// and the three redraw levels.
#pragma once

#include "viewer/viewer_state.h"

#include <cstdint>

namespace korax {

// Clear window (text background 7), plot area from the geometry, screen redraw.
void full_redraw(ViewerState& v, bool reset_plot_area = true);
// Key line, file name, plot redraw.
void screen_redraw(ViewerState& v);
// Plot area, trace, cursor, scale and both status rows.
void plot_redraw(ViewerState& v);
// Steps 4 to 8 of the plot redraw without recomputing the index range: clear
// the plot area, frame, trace, cursor, scale. Used by the O key.
void redraw_plot_contents(ViewerState& v);
// Sets the plot area from store().SCREEN.
void set_viewer_plot_area();
// Sets the plot coordinate system FLOW..FHIGH, YBOTM..YHIGH (computes YTICK, YBOTM).
void set_viewer_coords(ViewerState& v);
// The cursor line in exclusive-or colour 14 (drawing it twice removes it).
void draw_cursor(const ViewerState& v);
// Rows 1 and 2 in full (clears STALE), or only the cursor fields.
void write_status_rows(ViewerState& v);
void update_cursor_status(ViewerState& v);
// round((f - F(1)) / (F(NPTS) - F(1)) * (NPTS - 1)) + 1, half away from zero.
std::int32_t index_of_frequency(double f);
// Fills FEXP, YEXP, NEXP from the displayed range and multiplies IXEXP.
void INTERP(double& FLOW, double& FHIGH, std::int32_t& IFIRST, std::int32_t& ILAST,
            std::int32_t& NEXP, std::int32_t& IXEXP, ViewerState& v);
// The frequency scale below the frame and its labels on row NROWS - 1.
void MARSCA(const double& flow, const double& fhigh, const ViewerState& v);

} // namespace korax

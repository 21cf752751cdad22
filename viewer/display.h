// What the viewer shows: plot area, trace, cursor, scale, status rows, key line,
// and the three redraw levels. The arithmetic behind them (index ranges, status
// texts, interpolation, scale layout) is exposed as plain functions for tests.
#pragma once

#include "viewer/viewer_state.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

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
// With a gain and offset, the same picture for a trace whose values are drawn
// at gain x value + offset (a reference spectrum on its own scale).
void set_viewer_coords(ViewerState& v, double gain = 1, double offset = 0);
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

// ---- the arithmetic, free of the window ------------------------------------------

// The index formula over an axis from f1 to fn with npts points. An axis of
// equal frequencies (a step of 0 loads) or a non-finite f gives 1 instead of a
// division by zero; results are kept within +-2^30 so that they fit the int.
std::int32_t index_of(double f, double f1, double fn, std::int32_t npts);

struct IndexRange {
    std::int32_t IFIRST = 1, ILAST = 1;
};
// The displayed points of FLOW..FHIGH, limited to 1..npts; with `widen`, grown
// one point on each side at a time until at least 4 points are shown (as far as
// the spectrum allows).
IndexRange displayed_indices(double FLOW, double FHIGH, double f1, double fn, std::int32_t npts,
                             bool widen);

// A float intensity back to an integer: truncated toward zero, and held at the
// ends of the 32-bit range (and NaN at 0) rather than wrapping.
std::int32_t to_intensity(double y);

// The two status rows, 80 characters each.
std::string status_row1(std::int32_t ICURS, double FCURS, std::int32_t IFIRST, std::int32_t ILAST);
std::string status_row2(std::int32_t y_cursor, double YLOW, double YHIGH);
// The key line, built once at viewer entry.
std::string key_line();
// The file name as shown in the key line: whole (padded to 30) up to 30
// characters, else "..." and its last 28 characters.
std::string file_name_field(std::string_view fname);

// One halving pass after another over y (the displayed intensities, 3..512 of
// them) until more than 512 points result; writes them to out[1..] and returns
// their count. ixexp is doubled once per pass. Fewer than 3 points are copied.
std::int32_t interp_expand(std::span<const std::int32_t> y, std::span<std::int32_t, MAXEXP + 2> out,
                           std::int32_t& ixexp);

// The marker spacing for a frequency range: the largest power of ten (at most
// 100000, reached by repeated multiplication by 0.1) giving at least 15
// intervals; 0 when the range is not positive and finite.
double marker_spacing(double range);
// The scale line (80 characters) of the range lower..upper, which is `span`
// pixels wide; calls tick(x, long) for every marker in order. Where markers lie
// closer than a pixel, it calls tick once per pixel column that holds any (long
// when one of them is), so the work never exceeds the pixel columns whatever the
// range. A range that is not positive and finite gives a blank line and no ticks.
std::string marsca_layout(double lower, double upper, int span,
                          const std::function<void(double x, bool long_tick)>& tick = {});
// The pixel distance from the left to the right edge of the plot area.
int plot_area_span();

} // namespace korax

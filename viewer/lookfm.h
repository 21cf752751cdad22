// The viewer's key loop and the arithmetic of its keys. LOOKFM itself is
// declared in viewer/commands.h; the rules below work on plain values so that
// tests can drive them without a window.
#pragma once

#include "viewer/session_start.h"
#include "viewer/viewer_state.h"

#include <cstdint>
#include <span>

namespace korax {

// The frequency limits and cursor that the shift, zoom, HOME and END keys move.
struct FrequencyWindow {
    double FLOW = 0, FHIGH = 0, FCURS = 0;
};

// A (0.5) / a (0.1): towards lower frequencies by that fraction of the width,
// stopping at f1 with the width kept; the cursor moves with the display.
void shift_lower(FrequencyWindow& d, double fraction, double f1);
// S (0.5) / s (0.1): towards higher frequencies, stopping at fn likewise.
void shift_higher(FrequencyWindow& d, double fraction, double fn);
// Q (0.5) / q (0.1): widen by that fraction of the width on each side.
void zoom_out(FrequencyWindow& d, double fraction, double f1, double fn);
// E (0.25) / e (0.45): half-width as a fraction of the old width, about the cursor.
void zoom_in(FrequencyWindow& d, double half_fraction, double f1, double fn);
// A wheel notch: both limits move towards (factor < 1) or away from the cursor
// by that factor of their distance to it, so the cursor keeps its frequency and
// its column; then held inside the spectrum as after Q and E.
void zoom_about_cursor(FrequencyWindow& d, double factor, double f1, double fn);
// The same about the frequency `fixed` (the one under the mouse pointer),
// which keeps its column; the cursor keeps its frequency while it stays in
// the display and is held at its edge otherwise.
void zoom_about(FrequencyWindow& d, double factor, double fixed, double f1, double fn);
// HOME and END keep the current width (MAXX * CSTEP) and centre the cursor.
void move_home(FrequencyWindow& d, double width, double f1);
void move_end(FrequencyWindow& d, double width, double f1, double fn);

// W/w/Z/z: the range times (1 + f), placed about YREF (a quarter below it).
// W and w stop at a range of MIN_VERTICAL_RANGE (or the range as it is, when
// already narrower), Z and z at MAX_RANGE_FACTOR times `data_range` (the data's
// full range, IYMAX - IYMIN; at least MIN_VERTICAL_RANGE): a range of almost
// nothing shows no trace, and one of millions a flat line, and from either no
// number of presses of the other key brought the picture back. A result that is
// not finite or has no height is refused (nothing changes); returns whether the
// limits changed.
bool scale_vertical(double& YLOW, double& YHIGH, double YREF, double f, double data_range);
inline constexpr double MIN_VERTICAL_RANGE = 2;
inline constexpr double MAX_RANGE_FACTOR = 1000;
// 2/@ (fraction > 0) and 3/# (fraction < 0): the limits and YREF move by
// fraction * range; refused like scale_vertical.
bool shift_vertical(double& YLOW, double& YHIGH, double& YREF, double fraction);
// The key factors of the vertical keys are 32-bit constants used in 64-bit
// arithmetic: 0.05 is 0.0500000007...
inline constexpr double VFACTOR_2 = static_cast<double>(0.02f);
inline constexpr double VFACTOR_5 = static_cast<double>(0.05f);
inline constexpr double VFACTOR_10 = static_cast<double>(0.1f);

// Y(i) = trunc(YHIGH - Y(i) + YLOW) for every point of y.
void invert_intensities(std::span<std::int32_t> y, double YLOW, double YHIGH);

// K/k/L/l: steps of CSTEP (negative towards lower frequency), held one step
// inside the display.
void step_cursor(double& FCURS, double steps, double FLOW, double FHIGH, double CSTEP);
// ",": to the centre, or from the centre to the quarter point opposite to
// where the cursor came from (remembered in memo).
void centre_quarter(double& FCURS, double& memo, double FLOW, double FHIGH);

// Entry into the viewer (limits, ORIGNL, YMEAN, key line, extension of short
// spectra, what the command line named at the first entry of the run, first
// picture) and one key of the loop, as the key table binds it and without the
// command guard (viewer/command_guard.h); lookfm_key returns false when the
// operator confirmed leaving.
void lookfm_entry(ViewerState& v, const SessionStart& start = {});
[[nodiscard]] bool lookfm_key(ViewerState& v, std::int16_t code);

// The commands of LOOKFM's own keys, rows of the key table; the redraw after
// each is the table's. The amounts are the fractions, factors and steps above.
void key_shift_lower(ViewerState& v, double fraction);
void key_shift_higher(ViewerState& v, double fraction);
void key_zoom_in(ViewerState& v, double half_fraction);
void key_zoom_out(ViewerState& v, double fraction);
void key_home(ViewerState& v);
void key_end(ViewerState& v);
void key_scale_vertical(ViewerState& v, double f);
// The vertical limits fitted to the displayed points, with the margins and the
// reference level of the viewer's entry.
void key_autoscale(ViewerState& v);
// One wheel notch: the display narrowed (factor < 1) or widened about the
// frequency under the mouse pointer (Window::last_wheel) when the pointer is
// over the plot, otherwise about the cursor; that frequency keeps its place
// on the screen away from the ends of the spectrum.
void key_wheel_zoom(ViewerState& v, double factor);
// %: the whole spectrum at once, the cursor keeping its frequency; pressed
// again while the whole spectrum is still shown, the display it left comes
// back (the cursor too, when it has left that display).
void key_whole_spectrum(ViewerState& v);
void key_shift_vertical(ViewerState& v, double fraction);
void key_invert(ViewerState& v);
void key_restore(ViewerState& v);
// Erases the cursor, moves it `steps` CSTEP (0: the "," rule), draws it again
// and rewrites the cursor fields of the status rows.
void key_cursor(ViewerState& v, double steps);
void key_mark_points(ViewerState& v);
// The dialogs on a cleared grey window: N, M, H (then ENTER, or ? first), I
// (then ENTER), ^ and G.
void key_smoothing(ViewerState& v);
void key_save(ViewerState& v);
void key_help(ViewerState& v);
void key_information(ViewerState& v);
void key_window_height(ViewerState& v);
void key_gle(ViewerState& v);
// The exit question: true when the operator answered Y; after N the first
// status row is back and the second blank.
[[nodiscard]] bool key_exit(ViewerState& v);

} // namespace korax

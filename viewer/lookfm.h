// The viewer's key loop and the arithmetic of its keys. LOOKFM itself is
// declared in viewer/commands.h; the rules below work on plain values so that
// tests can drive them without a window.
#pragma once

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
// HOME and END keep the current width (MAXX * CSTEP) and centre the cursor.
void move_home(FrequencyWindow& d, double width, double f1);
void move_end(FrequencyWindow& d, double width, double f1, double fn);

// W/w/Z/z: the range times (1 + f), placed about YREF (a quarter below it).
// A result that is not finite or has no height is refused (nothing changes);
// returns whether the limits changed.
bool scale_vertical(double& YLOW, double& YHIGH, double YREF, double f);
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
// spectra, first picture) and one key of the loop; lookfm_key returns false
// when the operator confirmed leaving.
void lookfm_entry(ViewerState& v);
[[nodiscard]] bool lookfm_key(ViewerState& v, std::int16_t code);

} // namespace korax

// The screen of the F key, where the display limits are typed as numbers.
#pragma once

#include "viewer/lookfm.h"
#include "viewer/viewer_state.h"

namespace korax {

// What an answer to one of the two prompts leads to.
enum class LimitStep {
    Repeat, // ask the same prompt again
    Next,   // the lower limit is taken; ask the upper one
    Done,   // the display is set; leave the screen
};

// v is the typed value (a 32-bit float used as 64-bit); f1, fn the first and
// last frequency of the spectrum.
LimitStep apply_lower_limit(FrequencyWindow& d, double v, double f1, double fn);
LimitStep apply_upper_limit(FrequencyWindow& d, double v, double f1);

// Shows the screen and asks until the limits are set; changes only FLOW, FHIGH
// and FCURS. The caller redraws the viewer in full afterwards.
void frequency_limits_screen(ViewerState& v);

} // namespace korax

// The marks of the lines the last PEAKFINDER found, drawn over the plot while
// the | key has them on (off at the start of a run).
#pragma once

#include "viewer/viewer_state.h"

namespace korax {

// |: the marks on or off, for the rest of the run.
void key_peak_marks(ViewerState& v);
// Part of every plot redraw, under the trace: a stick from the top of the
// plot down at each line found inside the display, its length in proportion
// to the line's intensity (the strongest in view a quarter of the plot's
// height, none shorter than 3 pixels), in light grey, a colour no
// catalogue takes, so that they stand apart from the predictions' sticks
// growing from the bottom.
void draw_peak_marks(const ViewerState& v);

} // namespace korax

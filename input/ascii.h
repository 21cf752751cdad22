// The two-column ASCII reader and the frequency-axis linearisation.
#pragma once

namespace korax {

// Reads store().FNAME as text into the store and reports on the screen.
// false: the failure report and the banner have been drawn.
[[nodiscard]] bool read_ascii_spectrum();
// Checks the axis of a freshly read ASCII spectrum and resamples it onto the
// linear axis when it strays by more than a tenth of a step.
void linearise_axis();

} // namespace korax

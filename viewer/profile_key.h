// The viewer's line-shape fit: X fits the line under the cursor with its
// profile on the raw points of the spectrum (alone, or with the lines beside
// it as a blend), draws the fit and its residual and writes the result rows;
// x sets the profile, the baseline degree and the number of lines. The
// settings last for the whole run, like the measurement memory.
#pragma once

#include "analysis/profile_fit.h"
#include "viewer/viewer_state.h"

#include <array>
#include <string>

namespace korax {

struct ProfileKeySettings {
    ProfileFitSettings fit;      // second-derivative Lorentzian, linear baseline, lines found
    bool at_predictions = false; // the lines are the predictions of the open catalogues
};
ProfileKeySettings& profile_key_settings();

// X: fits, draws and remembers the line for T and =; a refused fit says why
// on the rows and changes nothing.
void key_profile_fit(ViewerState& v);
// x: the settings dialog; ENTER keeps a value, a value that cannot be read
// asks again.
void key_profile_settings(ViewerState& v);

// The settings as the result rows name them: "lorentz2, baseline 1, lines auto".
std::string profile_settings_text(const ProfileFitSettings& settings);

// The two result rows of a fit (80 columns at most each): the lines'
// frequencies, then the widths, reduced chi-square and residual RMS, and the
// settings. Lines that do not fit on the first row continue on the second.
std::array<std::string, 2> profile_result_rows(const ProfileFit& fit,
                                               const ProfileFitSettings& settings);

} // namespace korax

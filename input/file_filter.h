// The file-open box's entries for spectra, in the box's filter form: each entry
// a blank, a description, ", ", a pattern and ";".
#pragma once

#include <string_view>

namespace korax {

inline constexpr std::string_view DEFAULT_FILTER =
    " All Files (*.*), *.*; Spectral Files (*.0*), *.0*; Spectral Files (*.1*), *.1*;"
    " Spectral Files (*.2*), *.2*; Spectral Files (*.3*), *.3*;";

} // namespace korax

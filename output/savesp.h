// Saving the spectrum in work as a PELMO binary file: the dialog. The bytes of
// the file are output/pelmo_image.h's.
#pragma once

#include <cstdint>
#include <string>

namespace korax {

void SAVESP();
// How many times SAVESP has put a file in place during this run, so that the
// viewer can tell a save from a dialog left without one.
[[nodiscard]] std::uint64_t spectrum_saves();
// The name of the file the last of those saves put in place, as it was shown.
[[nodiscard]] const std::string& last_saved_path();

} // namespace korax

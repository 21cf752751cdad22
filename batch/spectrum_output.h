// The one spectrum file that `korax convert` and `korax diff` write: never one
// of their inputs, new unless --force replaces it, and left as it was by a
// stop or by a write that fails.
#pragma once

#include "base/safe_file.h"
#include "batch/runner.h"

#include <string>
#include <vector>

namespace korax {

// True, with the message on standard error, when `out` is one of `inputs`.
bool output_is_an_input(const std::string& command, const std::vector<std::string>& inputs,
                        const std::string& out);

// Opens `name` for the image; the reason it cannot be written, or empty.
std::string open_spectrum_output(SafeFile& out, const std::string& name, bool force);

// Puts the written image in place, or abandons it when a stop was asked; the
// reason nothing was placed, or empty. A file placed but not as it should be
// fails `outcome` with its message.
std::string place_spectrum_output(SafeFile& out, const std::string& name,
                                  const std::string& command, FileOutcome& outcome);

} // namespace korax

// The PELMO binary spectrum format: reading into the store. The byte layout
// shared with every other reader and writer is in input/pelmo_format.h.
#pragma once

#include <cstdint>
#include <cstdio>

namespace korax {

enum class PelmoOutcome { Loaded, NotPelmo, RejectedAxis, Fatal };

// Reads the open file from its first byte into the store, drawing the
// information screen while it loads. Fatal outcomes end the run through
// Window::fatal_end and do not return; Fatal is listed for completeness.
PelmoOutcome read_pelmo(std::FILE* file);

} // namespace korax

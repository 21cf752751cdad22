// The file names typed at the viewer's own name prompts, the line catalogue
// of C and the spectrum to append of &. Either may also be chosen in the
// file-open box, as at the program's file prompt.
#pragma once

#include "window/window.h"

namespace korax {

enum class NamedFile { Catalogue, Spectrum, Reference };

// Reads the answer at the text position. TAB opens the file-open box with the
// patterns of `what` (catalogue and assignment files, or the spectrum
// patterns of the file prompt), and so does ENTER alone at the catalogue and
// reference prompts, where it has no other use (at the append prompt it leaves
// the append). A name chosen there stands in the answer as if typed; Cancel
// returns to the typing.
[[nodiscard]] TypedName read_file_name(NamedFile what);

} // namespace korax

// The choice of a spectrum file at the start of every load: a typed name, or the
// file-open box, whose first entry remembers the last name that could not be
// opened ("abc" offers abc*.*) for the whole run.
#pragma once

#include "base/input_file.h"
#include "input/file_filter.h"

#include <string>
#include <string_view>

namespace korax {

// The box entry made from a name that did not open: " P files (P*.*), P*.*;"
// with P the text before the first ".", "\", "/" or blank. Empty when there is no
// such prefix: a ":" before it (a drive letter), a leading blank, or nothing
// before the first separator.
std::string generic_entry(std::string_view fname);

// Opens an existing regular file for reading its bytes, without waiting on a
// FIFO or device; anything else gives nullptr, with the reason in `why` when
// given. A name written with "\" is tried with "/" as well, and becomes that
// form when it opens so.
FilePtr open_spectrum_file(std::string& name, std::string* why = nullptr);

// The remembered box entry, blank at start-up.
void forget_generic_entry();
const std::string& generic_entry_in_use();

// The answer to the first file prompt of the run, given on the command line
// (`korax FILE`): it is shown at the prompt as if typed, and everything after
// it goes as for a typed name. Used once.
void set_first_answer(std::string name);

// Asks for a file until one opens, from the current text position; sets
// store().FNAME to the name typed or chosen.
FilePtr choose_spectrum_file();

} // namespace korax

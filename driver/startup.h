// Settings that the command line hands to the interactive run.
#pragma once

#include <string>
#include <vector>

namespace korax {

// Line catalogues named with --catalog, in the order given; opened when the
// viewer first shows a spectrum.
std::vector<std::string>& startup_catalogs();
// The assignment file named with --lin; empty when none was.
std::string& startup_lin();
// The file of the settings kept between runs; empty: none is read or written
// (the tests, and a scripted run without a configuration file and without
// XDG_STATE_HOME).
std::string& state_file();

} // namespace korax

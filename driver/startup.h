// Settings that the command line hands to the interactive run.
#pragma once

#include <string>
#include <vector>

namespace korax {

// Line catalogues named with --catalog, in the order given; opened when the
// viewer first shows a spectrum.
std::vector<std::string>& startup_catalogs();

} // namespace korax

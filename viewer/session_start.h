// What the command line hands the viewer for the whole run: the catalogues and
// the assignment file to open at the first plot, and where the settings of the
// last run are kept. The driver fills it; the viewer takes it at each entry.
#pragma once

#include <string>
#include <vector>

namespace korax {

struct SessionStart {
    // Line catalogues named with --catalog, in the order given.
    std::vector<std::string> catalogs;
    // The assignment file named with --lin; empty when none was.
    std::string lin;
    // The file of the settings kept between runs; empty: none is read or
    // written (the tests, and a scripted run without a configuration file and
    // without XDG_STATE_HOME).
    std::string state_file;
};

} // namespace korax

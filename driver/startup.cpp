// The catalogues and the assignment file named on the command line, kept until
// the first spectrum is shown, when the viewer opens them; and where the
// settings of the last run are kept.
#include "driver/startup.h"

namespace korax {

std::vector<std::string>& startup_catalogs() {
    static std::vector<std::string> names;
    return names;
}

std::string& startup_lin() {
    static std::string name;
    return name;
}

std::string& state_file() {
    static std::string path;
    return path;
}

} // namespace korax

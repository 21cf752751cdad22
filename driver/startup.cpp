// The catalogues named on the command line, kept until the first spectrum is
// shown, when the viewer opens them.
#include "driver/startup.h"

namespace korax {

std::vector<std::string>& startup_catalogs() {
    static std::vector<std::string> names;
    return names;
}

} // namespace korax

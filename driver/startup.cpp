#include "driver/startup.h"

namespace korax {

std::vector<std::string>& startup_catalogs() {
    static std::vector<std::string> names;
    return names;
}

} // namespace korax

// Folder and file parts of a name, with both separators.
#include "base/file_name.h"

namespace korax {

std::string directory_part(std::string_view fname) {
    const auto last = fname.find_last_of("/\\");
    if (last == std::string_view::npos || last == 0) return {};
    return std::string(fname.substr(0, last + 1));
}

std::string_view file_part(std::string_view fname) {
    return fname.substr(directory_part(fname).size());
}

} // namespace korax

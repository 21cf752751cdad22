// Telling whether an output of a batch command would be one of its inputs.
#include "batch/commands.h"

#include <filesystem>
#include <sys/stat.h>

namespace korax {

bool same_file(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    if (fs::path(a).lexically_normal() == fs::path(b).lexically_normal()) return true;
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace korax

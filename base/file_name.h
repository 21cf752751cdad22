// The parts of a file name the operator types or the program was given. Either
// "/" or "\" separates folders, so that names written in the old style still
// lead to their folder.
#pragma once

#include <string>
#include <string_view>

namespace korax {

// The folder part of a spectrum file name: up to and including its last "/" or
// "\"; empty when there is none or the only one is the first character.
std::string directory_part(std::string_view fname);
// The name without its folder part.
std::string_view file_part(std::string_view fname);

} // namespace korax

// The filter list of the file-open box, from the driver's text form
// " All Files (*.*), *.*; Text (*.txt), *.txt;".
#include "window/frontend.h"

namespace korax {

namespace {
std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}
} // namespace

std::vector<FileFilter> parse_filter_list(std::string_view text) {
    std::vector<FileFilter> filters;
    while (!text.empty()) {
        const auto semicolon = text.find(';');
        std::string_view entry = text.substr(0, semicolon);
        text =
            semicolon == std::string_view::npos ? std::string_view{} : text.substr(semicolon + 1);
        // The description may itself hold commas; the pattern follows the last one.
        const auto comma = entry.rfind(',');
        std::string_view description = trim(entry.substr(0, comma));
        std::string_view pattern =
            comma == std::string_view::npos ? std::string_view{} : trim(entry.substr(comma + 1));
        if (description.empty() && pattern.empty()) continue;
        if (pattern.empty()) pattern = "*";
        filters.push_back({std::string(description), std::string(pattern)});
    }
    return filters;
}

} // namespace korax

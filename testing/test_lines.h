// For tests of the text files KORAX writes: the lines of a text whose every line
// ends with CR LF.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korax {

inline std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (auto at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", from)) {
        lines.push_back(text.substr(from, at - from));
        from = at + 2;
    }
    EXPECT_EQ(text.size(), from) << "every line ends with CR LF";
    return lines;
}

} // namespace korax

// Folder and file parts of names written with either separator.
#include "base/file_name.h"

#include <gtest/gtest.h>

namespace korax {
namespace {

TEST(FileName, FolderAndFileParts) {
    const struct {
        std::string name, folder, file;
    } table[] = {
        {"data/old.dat", "data/", "old.dat"},
        {"c:\\ulm\\ocs.001", "c:\\ulm\\", "ocs.001"},
        {"a/b\\c.001", "a/b\\", "c.001"},
        {"ocs.001", "", "ocs.001"},
        {"/ocs.001", "", "/ocs.001"}, // the only separator is the first character
        {"", "", ""},
    };
    for (const auto& row : table) {
        EXPECT_EQ(row.folder, directory_part(row.name)) << row.name;
        EXPECT_EQ(row.file, file_part(row.name)) << row.name;
    }
}

} // namespace
} // namespace korax

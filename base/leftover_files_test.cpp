// The names and journals of what killed writers leave: only hidden names of
// ours are ever taken for leftovers, and a journal that names anything outside
// its folder, or anything but our own hidden files besides its targets, is no
// journal.
#include "base/leftover_files.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace korax::file_ops {
namespace {

TEST(LeftoverFiles, OnlyOurHiddenNamesAndWholeJournals) {
    const std::string mine = hidden_name("/some/folder");
    ASSERT_EQ(0u, mine.find("/some/folder/.korax-"));
    EXPECT_EQ(::getpid(), leftover_owner(mine.substr(13)));
    EXPECT_EQ(::getpid(), leftover_owner(hidden_name(".", ".set").substr(2)));
    for (const char* other :
         {".korax-lock-0123456789abcdef", ".korax-abcdefgh", ".korax-12-abc", ".korax-12-abcdefg",
          ".korax-0-abcdef", "korax-12-abcdef", ".korax-12-ABCDEF", ".korax-12-abcdef.tmp"})
        EXPECT_FALSE(leftover_owner(other)) << other;

    const std::vector<JournalEntry> entries = {
        {8, 42, "a.gle", ".korax-7-aaaaaa", ""},
        {8, 43, "b.gle", ".korax-7-bbbbbb", ".korax-7-cccccc"}};
    const std::string text = journal_text(entries);
    const auto back = parse_journal(text);
    ASSERT_TRUE(back);
    ASSERT_EQ(2u, back->size());
    EXPECT_EQ(43u, (*back)[1].inode);
    EXPECT_EQ(".korax-7-cccccc", (*back)[1].backup);
    EXPECT_FALSE(parse_journal(text.substr(0, text.size() - 1))) << "cut short";
    EXPECT_FALSE(parse_journal(std::string("korax-set 1\0008 042\0a.gle\0.korax-7-aaaaaa\0\0", 41)))
        << "a number journal_text does not write";
    const struct {
        JournalEntry entry;
        const char* why;
    } refused[] = {
        {{8, 42, "../a.gle", ".korax-7-aaaaaa", ""}, "a target outside the folder"},
        {{8, 42, "..", ".korax-7-aaaaaa", ""}, "the folder above"},
        {{8, 42, "a.gle", "important.dat", ""}, "a temporary that is not ours"},
        {{8, 42, "a.gle", ".korax-7-aaaaaa", "/etc/passwd"}, "a backup elsewhere"},
    };
    for (const auto& row : refused)
        EXPECT_FALSE(parse_journal(journal_text({row.entry}))) << row.why;
}

} // namespace
} // namespace korax::file_ops

// The names and ledgers of what killed writers leave: only hidden names of
// ours are ever listed, a record cut short at the end is no record, a journal
// counts only whole, and a ledger that names anything outside its folder, or
// anything but our own hidden files besides its targets, is no ledger.
#include "base/leftover_files.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace korax::file_ops {
namespace {

TEST(LeftoverFiles, OnlyOurHiddenNamesAndWholeLedgers) {
    const std::string mine = hidden_name("/some/folder");
    ASSERT_EQ(0u, mine.find("/some/folder/.korax-"));
    EXPECT_EQ(::getpid(), leftover_owner(mine.substr(13)));
    EXPECT_EQ(::getpid(), leftover_owner(hidden_name(".", ".set").substr(2)));
    for (const char* other :
         {".korax-lock-0123456789abcdef", ".korax-abcdefgh", ".korax-12-abc", ".korax-12-abcdefg",
          ".korax-0-abcdef", "korax-12-abcdef", ".korax-12-ABCDEF", ".korax-12-abcdef.tmp"})
        EXPECT_FALSE(leftover_owner(other)) << other;

    const std::vector<JournalEntry> entries = {
        {8, 42, 100, 1700000000, 5, "a.gle", ".korax-7-aaaaaa", ""},
        {8, 43, 0, -1, 999999999, "b.gle", ".korax-7-bbbbbb", ".korax-7-cccccc"}};
    const std::string names = ledger_head() + ledger_note(".korax-7-aaaaaa") +
                              ledger_note(".korax-7-zzzzzz") + ledger_taken(".korax-7-zzzzzz") +
                              ledger_note(".korax-7-bbbbbb") + ledger_note(".korax-7-cccccc");
    const std::string text = names + ledger_journal(entries);
    const auto back = parse_ledger(text);
    ASSERT_TRUE(back);
    EXPECT_EQ((std::vector<std::string>{".korax-7-aaaaaa", ".korax-7-bbbbbb", ".korax-7-cccccc"}),
              back->hidden)
        << "a name found taken is not ours";
    ASSERT_TRUE(back->journal);
    ASSERT_EQ(2u, back->journal->size());
    EXPECT_EQ(43u, (*back->journal)[1].inode);
    EXPECT_EQ(-1, (*back->journal)[1].mtime_sec);
    EXPECT_EQ(999999999, (*back->journal)[1].mtime_nsec);
    EXPECT_EQ(100u, (*back->journal)[0].size);
    EXPECT_EQ(".korax-7-cccccc", (*back->journal)[1].backup);

    // Cut short anywhere in the journal: the names stay, the journal does not.
    for (std::size_t cut = names.size(); cut < text.size(); ++cut) {
        const auto part = parse_ledger(text.substr(0, cut));
        ASSERT_TRUE(part) << cut;
        EXPECT_EQ(3u, part->hidden.size()) << cut;
        EXPECT_FALSE(part->journal) << cut;
    }
    EXPECT_FALSE(parse_ledger(ledger_head().substr(0, 5))) << "a head cut short";
    EXPECT_FALSE(parse_ledger("mine\n")) << "a user's file";
    EXPECT_FALSE(parse_ledger(ledger_head() +
                              std::string("j\0008 042 1 2 3\0a\0.korax-7-aaaaaa\0\0go\0", 36)))
        << "a number the ledger does not write";

    const struct {
        std::string record;
        const char* why;
    } refused[] = {
        {ledger_note("important.dat"), "a noted name that is not a hidden one"},
        {ledger_note(".korax-7-aaaaaa.set"), "a ledger noted as a hidden file"},
        {ledger_journal({{8, 42, 1, 2, 3, "../a.gle", ".korax-7-aaaaaa", ""}}),
         "a target outside the folder"},
        {ledger_journal({{8, 42, 1, 2, 3, "..", ".korax-7-aaaaaa", ""}}), "the folder above"},
        {ledger_journal({{8, 42, 1, 2, 3, "a.gle", "important.dat", ""}}),
         "a temporary that is not ours"},
        {ledger_journal({{8, 42, 1, 2, 3, "a.gle", ".korax-7-aaaaaa", "/etc/passwd"}}),
         "a backup elsewhere"},
        {std::string("x") + '\0', "a record of no kind"},
    };
    for (const auto& row : refused)
        EXPECT_FALSE(parse_ledger(ledger_head() + row.record)) << row.why;
}

} // namespace
} // namespace korax::file_ops

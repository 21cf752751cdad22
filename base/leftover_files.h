// Inside base/ only: what a writer killed half way leaves in a folder, and how
// the next write into that folder clears it. Every hidden name a writer makes
// (a temporary or backup ".korax-PID-XXXXXX") is first noted in its ledger
// ".korax-PID-XXXXXX.set" in that folder, which the writer holds an
// open-file-description lock on for its whole life: a ledger nobody holds is
// a dead writer's, whatever process namespace or user it ran in, and only the
// names it lists are ever removed. A set being renamed into place adds its
// journal to the ledger, with what it needs to know each new file again, so
// that a set cut off between two renames is rolled back to its old files,
// never over a file changed since.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax::file_ops {

// A fresh hidden name in `folder` for a temporary or a backup link (`suffix`
// "" ), or for a ledger (".set").
std::string hidden_name(const std::string& folder, std::string_view suffix = {});

// The writer's process in a hidden name of ours, or nullopt for any other name.
std::optional<long> leftover_owner(std::string_view file_name);

// One file of a set in its journal: the names in the journal's own folder, and
// the new file as it was put in place, so that it is known again only while
// nobody has changed it.
struct JournalEntry {
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t mtime_sec = 0, mtime_nsec = 0;
    std::string target, temp, backup; // backup empty: the target was new
    bool operator==(const JournalEntry&) const = default;
};

// What a ledger says: the hidden names noted (less those found taken by
// someone else), and the journal of a set once it is complete.
struct LedgerContents {
    std::vector<std::string> hidden;
    std::optional<std::vector<JournalEntry>> journal;
};
// The text of a new ledger, of one noted name, of a name found taken, and of
// a whole journal.
std::string ledger_head();
std::string ledger_note(std::string_view name);
std::string ledger_taken(std::string_view name);
std::string ledger_journal(const std::vector<JournalEntry>& entries);
std::string ledger_journal_done();
// nullopt unless `text` starts with a whole head; a record cut short at the
// end (the writer died writing it) is left out, and a journal counts only
// whole and until it is done. Names that leave the folder, or hidden names not of our form, make
// the whole ledger no ledger of ours.
std::optional<LedgerContents> parse_ledger(std::string_view text);

// The ledgers of one writer, one in each folder it makes hidden names in;
// made at the first note there and removed by close(), after every name noted
// has been renamed into place or removed.
class Ledger {
  public:
    Ledger() = default;
    ~Ledger() { close(); }
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // Notes `name` (a hidden name in `folder`) before it is made. 0 or errno.
    [[nodiscard]] int note(const std::string& folder, const std::string& name);
    // `name` was already taken by a file that is not ours: never to be removed.
    void taken(const std::string& folder, const std::string& name);
    // Adds the journal of a set and puts it on disk with the folder's entry of
    // the ledger, before the first rename. 0 or errno.
    [[nodiscard]] int journal(const std::string& folder, const std::vector<JournalEntry>& entries);
    // Every rename of the set is on disk: from now on the set is to be kept,
    // not rolled back, whatever happens before close().
    void journal_done();
    void close();

  private:
    struct File {
        std::string folder, name;
        int fd = -1;
    };
    // The ledger of `folder`, made when there is none yet; nullptr and errno.
    File* file_of(const std::string& folder, std::string_view first_record);
    std::vector<File> m_files;
};

// What a lock file of FileLock holds, so that a file of that name with
// anything else in it is known as someone else's.
inline constexpr std::string_view LOCK_FILE_TEXT = "korax lock file\n";
inline constexpr std::string_view LOCK_PREFIX = ".korax-lock-";

// Removes, once per folder and run, the hidden files that the ledgers of dead
// writers list, after rolling back the sets their journals name, and the lock
// files no process holds; only files of this user, older than this run.
// Returns a note for each file a roll-back left as it found it, and why. Best
// effort: what cannot be read or removed stays.
std::vector<std::string> clear_leftovers(const std::string& folder);

} // namespace korax::file_ops

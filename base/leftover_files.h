// Inside base/ only: what a writer killed half way leaves in a folder, and how
// the next write into that folder clears it. Temporaries and backup links are
// named ".korax-PID-XXXXXX", so that they can be told from those of a live
// writer; a set being renamed into place has a journal ".korax-PID-XXXXXX.set"
// naming every file of it, so that a set cut off between two renames is rolled
// back to its old files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax::file_ops {

// A fresh hidden name in `folder` for a temporary or a backup link (`suffix`
// "" ), or for a set's journal (".set").
std::string hidden_name(const std::string& folder, std::string_view suffix = {});

// The writer's process in a hidden name of ours, or nullopt for any other name.
std::optional<long> leftover_owner(std::string_view file_name);

// One file of a set in its journal: the names in the journal's own folder.
struct JournalEntry {
    std::uint64_t device = 0, inode = 0; // of the new file, so that it is known in place
    std::string target, temp, backup;    // backup empty: the target was new
};
std::string journal_text(const std::vector<JournalEntry>& entries);
// nullopt unless `text` is a whole journal whose names all stay in its folder
// and name only hidden files of ours besides the targets.
std::optional<std::vector<JournalEntry>> parse_journal(std::string_view text);

// Removes, once per folder and run, the hidden files of writers that are no
// longer alive and that are older than this run, after rolling back the sets
// their journals name. Best effort: what cannot be read or removed stays.
void clear_leftovers(const std::string& folder);

} // namespace korax::file_ops

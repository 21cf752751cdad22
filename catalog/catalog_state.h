// The catalogue settings kept between runs: D's values and, for each folder of
// spectra, the assignment file last chosen there. One small text file under
// $XDG_STATE_HOME/korax/, read once per run and rewritten safely when a value
// changes; a file that cannot be read is ignored and replaced at the next save.
#pragma once

#include "catalog/overlay.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// A file longer than this is no state file of ours: written ones stay below
// it (16 folders of two long paths fit), and reading stops here.
inline constexpr std::size_t MAX_STATE_BYTES = 8192;
// Folders remembered; the one used longest ago gives way.
inline constexpr std::size_t MAX_STATE_FOLDERS = 16;

struct FolderFile {
    std::string folder;   // absolute, with its trailing "/"
    std::string lin_path; // absolute
    bool operator==(const FolderFile&) const = default;
};

struct CatalogState {
    // tolerance, threshold, fixed_unc, weight and equal_weights; lin_path is
    // per folder, below.
    CatalogSettings settings;
    std::vector<FolderFile> folders; // the most recently chosen first
};

// The state file of a run: XDG_STATE_HOME/korax/settings when that is an
// absolute path, else HOME/.local/state/korax/settings; empty when neither
// gives one (`home` null or not absolute).
std::string state_file_path(const char* xdg_state_home, const char* home);

// The file's text: a header line, one "name value" line per setting and one
// "folder FOLDER<tab>FILE" line per folder, bytes below 0x20, 0x7f and "\" in
// names written as \xHH. Folders are dropped from the end until the text is
// shorter than MAX_STATE_BYTES.
std::string format_state(const CatalogState& state);

struct StateRead {
    CatalogState state;
    bool exists = false;
    std::string error; // empty: read (or absent); else why it was ignored
};
// Parses what format_state writes. A missing header, a line that is not
// "name value", a value out of the range D accepts, a name that cannot be
// decoded or a text of MAX_STATE_BYTES or more gives `error` ("line 3: ...")
// and the defaults. Lines of names it does not know are skipped, so that a
// later version's file still reads.
StateRead parse_state(std::string_view text);

// Reads the state file at `path` with at most MAX_STATE_BYTES of memory; a
// missing file is no error, anything that is not a regular file is one.
StateRead read_state_file(const std::string& path);

struct StateWrite {
    bool written = false;
    // Not written: why, in the system's words; written: what went wrong once
    // the file was in place (the folder not synced), else empty.
    std::string text;
};
// Writes the state file through SafeFile, making its folder (and the folders
// above it) with mode 0700 when missing; but never through a symbolic link,
// nor over a file that is not one of ours (a first line other than the
// header): those stay as they are, and `text` says why.
StateWrite write_state_file(const std::string& path, const CatalogState& state);
inline constexpr std::string_view STATE_LINK_REFUSED = "a symbolic link, not written through";
inline constexpr std::string_view STATE_FOREIGN_KEPT =
    "not a settings file of this program, left as it is";
// Why the state file at `path` is not the program's to write, or nullopt
// when it is (or does not exist yet).
std::optional<std::string> not_ours_to_write(const std::string& path);

// `lin_path` becomes the file of `folder`, which moves to the front; beyond
// MAX_STATE_FOLDERS the last folder is dropped.
void remember_folder(CatalogState& state, const std::string& folder, const std::string& lin_path);
std::optional<std::string> remembered_lin(const CatalogState& state, std::string_view folder);

} // namespace korax

// SafeFile: a file written by KORAX is never overwritten without the operator's
// yes, and a failed write never damages an existing file. Everything goes to a
// temporary in the target's folder, every write is checked, and only a complete
// file is renamed into place.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korax::file_ops {
class Ledger;
}

namespace korax {

// An error text cut at its "; " into the lines a screen shows it in: the
// failure first, then each temporary that could not be removed.
std::vector<std::string> error_lines(std::string_view text);

// Why a link is not written through: see SafeFile::open.
inline constexpr const char* LINK_REFUSED =
    "a link in a shared folder, owned by another user: not followed";

enum class OpenMode { New, Unknown }; // "NEW": must not exist; "UNKNOWN": create or replace

class SafeFile {
  public:
    enum class Status { Ok, Exists, Error };

    SafeFile();
    ~SafeFile(); // an uncommitted file is removed; the target stays as it was
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Prepares writing `path`. A symbolic link is followed: the file it names
    // is the one created or replaced, and the link stays; but not a link that
    // someone else planted in a sticky world-writable folder (LINK_REFUSED).
    // Exists: mode New and the path exists, or is a dangling link whose file
    // would be made outside the link's folder. Error: the folder cannot take
    // the file (no such folder, no permission), or the path exists and is not
    // a regular file (a folder, FIFO, device or socket: "not a regular file",
    // in either mode, for no writer may replace such a node); error_text()
    // says why in the system's words. The first open in a folder clears what
    // killed writers left there (see leftover_files.h); a file that clearing
    // left as it found it is named in error_text() after commit().
    [[nodiscard]] Status open(const std::string& path, OpenMode mode);
    // Buffered; a failure is remembered and reported by commit().
    void write(const void* data, std::size_t size);
    void write(std::string_view text) { write(text.data(), text.size()); }
    // Flushes, syncs and renames into place (for New, without replacing a file
    // that appeared meanwhile). false: nothing was put in place; see
    // error_text(). After a successful commit error_text() is empty unless a
    // cleanup failed (a temporary that could not be removed) or the folder
    // could not be synced: the file is then in place and the text says so
    // ("written, but the folder could not be synced: REASON").
    [[nodiscard]] bool commit();
    // Drops the temporary file.
    void abandon();
    const std::string& error_text() const { return m_error; }
    const std::string& path() const { return m_path; }

  private:
    friend class SafeFileSet;
    // Everything of commit() but the final rename: the data is on disk, the
    // temporary is closed and has a hidden name. false: see error_text().
    [[nodiscard]] bool finish();
    // commit() once finish() has succeeded; `sync_after`: the folder too.
    [[nodiscard]] bool put_in_place(bool sync_after = true);
    // `last`: the final flush before a sync, counted apart from the writes.
    [[nodiscard]] bool flush_buffer(bool last);
    // The buffer out to the kernel, without waiting for the disk.
    [[nodiscard]] bool write_out();
    // write_out(), then a hidden name and closed: holds no open file.
    [[nodiscard]] bool park();
    [[nodiscard]] bool sync();
    void fail(int error);
    void note_cleanup(const std::string& name, int error);
    // A note after success: the file is in place, yet not all went well.
    void note(const std::string& text);

    std::string m_path;   // as given, "\" read as "/"
    std::string m_target; // the file actually replaced: m_path with links followed
    std::string m_temp;   // the temporary's name; empty while it has none
    std::string m_error;
    std::string m_cleanup;       // temporaries that could not be removed
    std::string m_leftover_note; // what the folder's clearing left, and why
    // Where the hidden names are noted: the file's own, or its set's.
    file_ops::Ledger* m_ledger = nullptr;
    std::unique_ptr<file_ops::Ledger> m_own_ledger;
    std::vector<char> m_buffer;
    OpenMode m_mode = OpenMode::New;
    int m_fd = -1;
    bool m_failed = false;
    bool m_synced = false;
};

} // namespace korax

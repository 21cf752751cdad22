// Files written by KORAX: never overwritten without the operator's yes, and a
// failed write never damages an existing file. Everything goes to a temporary
// file in the target's folder (unnamed where the file system allows, so that a
// killed save leaves nothing behind), every write is checked, and only a
// complete file is renamed into place.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// The folder part of a spectrum file name: up to and including its last "/" or
// "\"; empty when there is none or the only one is the first character.
std::string directory_part(std::string_view fname);
// The name without its folder part.
std::string_view file_part(std::string_view fname);

// A seam for the fault-injection tests: every file operation of SafeFile and
// SafeFileSet asks it first. Nothing else in the program uses it.
namespace file_faults {

enum class Op { Open, Write, Flush, Fsync, Close, Link, Rename, Unlink };
inline constexpr int OP_COUNT = 8;
const char* op_name(Op op);

struct Fault {
    Op op = Op::Open;
    int occurrence = 1;       // the how-manieth call of `op` fails, counted from 1
    int error = 0;            // errno of the failure
    bool short_write = false; // Write/Flush: half the bytes go out, then `error`
};
// Arms one fault (or none), or several, and resets the counts.
void arm(std::optional<Fault> fault);
void arm(std::vector<Fault> faults);
// How often each operation was called since the last arm().
int calls(Op op);
// Test switch: named temporaries even where the file system offers unnamed ones.
void force_named_temporaries(bool on);
// Test switch: how many files of a set are held open before the others are
// closed as soon as they are written (0: the usual number).
void set_open_file_budget(std::size_t files);

} // namespace file_faults

// An error text cut at its "; " into the lines a screen shows it in: the
// failure first, then each temporary that could not be removed.
std::vector<std::string> error_lines(std::string_view text);

enum class OpenMode { New, Unknown }; // "NEW": must not exist; "UNKNOWN": create or replace

class SafeFile {
  public:
    enum class Status { Ok, Exists, Error };

    SafeFile() = default;
    ~SafeFile(); // an uncommitted file is removed; the target stays as it was
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Prepares writing `path`. A symbolic link is followed: the file it names
    // is the one created or replaced, and the link stays. Exists: mode New and
    // the path exists. Error: the folder cannot take the file (no such folder,
    // no permission, `path` is a folder); error_text() says why in the
    // system's words.
    [[nodiscard]] Status open(const std::string& path, OpenMode mode);
    // Buffered; a failure is remembered and reported by commit().
    void write(const void* data, std::size_t size);
    void write(std::string_view text) { write(text.data(), text.size()); }
    // Flushes, syncs and renames into place (for New, without replacing a file
    // that appeared meanwhile). false: nothing was put in place; see
    // error_text(). After a successful commit error_text() is empty unless a
    // cleanup failed (a temporary that could not be removed): the file is then
    // in place and the text names what was left.
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
    [[nodiscard]] bool flush_buffer(file_faults::Op op);
    // The buffer out to the kernel, without waiting for the disk.
    [[nodiscard]] bool write_out();
    // write_out(), then a hidden name and closed: holds no open file.
    [[nodiscard]] bool park();
    [[nodiscard]] bool sync();
    void fail(int error);
    void note_cleanup(const std::string& name, int error);

    std::string m_path;   // as given, "\" read as "/"
    std::string m_target; // the file actually replaced: m_path with links followed
    std::string m_temp;   // the temporary's name; empty while it has none
    std::string m_error;
    std::string m_cleanup; // temporaries that could not be removed
    std::vector<char> m_buffer;
    OpenMode m_mode = OpenMode::New;
    int m_fd = -1;
    bool m_failed = false;
    bool m_synced = false;
};

// Several files that replace their old versions as a whole: either every file
// of the set is put in place, or none is and every old file stays as it was.
// Files are added and written one at a time, so a set of thousands of files
// needs the memory of one; each is synced before the next is opened.
class SafeFileSet {
  public:
    SafeFileSet() = default;
    ~SafeFileSet(); // an uncommitted set is removed; the old files stay
    SafeFileSet(const SafeFileSet&) = delete;
    SafeFileSet& operator=(const SafeFileSet&) = delete;

    // Opens the next file of the set (see SafeFile::open); the reference stays
    // valid until the next add(). On anything but Ok the set has failed.
    [[nodiscard]] SafeFile::Status add(const std::string& path, OpenMode mode);
    void write(std::string_view text);
    // Puts the whole set in place. false: no old file was changed and no
    // temporary is left (unless error_text() names one that could not be
    // removed). After success error_text() is as for SafeFile::commit().
    [[nodiscard]] bool commit();
    void abandon();
    std::size_t size() const { return m_files.size(); }
    const std::string& error_text() const { return m_error; }
    // The file the failure concerns.
    const std::string& failed_path() const { return m_failed_path; }

  private:
    [[nodiscard]] bool finish_current();
    bool fail(const SafeFile& file);

    std::vector<std::unique_ptr<SafeFile>> m_files;
    std::string m_error, m_failed_path;
    bool m_failed = false;
};

} // namespace korax

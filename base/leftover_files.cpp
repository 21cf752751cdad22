// Ledgers and the clearing of what killed writers left: a folder is looked at
// before the first file of a run is written into it. A ledger is a dead
// writer's when its lock can be taken; its journal, when whole, is rolled back
// first (each new file found in place and unchanged gives way to its backup,
// or goes when it had none), then the hidden names it lists are removed, and
// the ledger last.
#include "base/leftover_files.h"

#include "base/file_faults.h"
#include "base/file_ops.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace korax::file_ops {

namespace {

constexpr std::string_view PREFIX = ".korax-";
constexpr std::string_view LEDGER_SUFFIX = ".set";
constexpr std::string_view HEAD = "korax-ledger 1\n";
constexpr std::size_t RANDOM_LETTERS = 6;
// A ledger lists the files of one plot; anything larger is not one of ours.
constexpr off_t MAX_LEDGER_BYTES = off_t(64) << 20;

timespec clock_now() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return t;
}
// Files changed before this moment belong to earlier runs.
timespec g_run_start = clock_now();
std::mutex g_mutex;
std::set<std::pair<dev_t, ino_t>> g_cleared; // folders cleared in this run

bool before_run(const struct stat& st) {
    const timespec& c = st.st_ctim;
    return c.tv_sec < g_run_start.tv_sec ||
           (c.tv_sec == g_run_start.tv_sec && c.tv_nsec < g_run_start.tv_nsec);
}

bool plain_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// A temporary's or a backup's name, never a ledger's.
bool hidden_file_name(std::string_view name) {
    return leftover_owner(name) && !name.ends_with(LEDGER_SUFFIX);
}

bool no_locks_here(int error) {
    return error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
}

// The whole file, for the lifetime of the descriptor's open file description:
// unlike a lock by process, it holds across process namespaces, and a second
// descriptor of the same process is refused it too.
int ofd_lock(int fd, bool wait) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &whole);
}

std::string read_small_file(int fd, std::size_t most) {
    std::string text;
    char block[1 << 14];
    while (text.size() <= most) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(block, static_cast<std::size_t>(n));
    }
    return text;
}

// Writes all of `text`; through the fault seam when `seam`.
int write_all(int fd, std::string_view text, bool seam) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = seam ? sys_write(Op::Write, fd, text.data() + done, text.size() - done)
                               : ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) return errno;
        if (n > 0) done += static_cast<std::size_t>(n);
    }
    return 0;
}

std::string entry_id(const JournalEntry& e) {
    return std::to_string(e.device) + " " + std::to_string(e.inode) + " " + std::to_string(e.size) +
           " " + std::to_string(e.mtime_sec) + " " + std::to_string(e.mtime_nsec);
}

// Reads "dev ino size sec nsec" exactly as entry_id writes it.
bool parse_id(std::string_view id, JournalEntry& e) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const auto blank = id.find(' ', from);
        parts.push_back(id.substr(from, blank - from));
        if (blank == std::string_view::npos) break;
        from = blank + 1;
    }
    if (parts.size() != 5) return false;
    const auto number = [](std::string_view text, auto& value) {
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        return ec == std::errc() && end == text.data() + text.size();
    };
    if (!number(parts[0], e.device) || !number(parts[1], e.inode) || !number(parts[2], e.size) ||
        !number(parts[3], e.mtime_sec) || !number(parts[4], e.mtime_nsec))
        return false;
    // Written by entry_id only: a number in another form ("02") is not ours.
    return entry_id(e) == id;
}

bool same_file(const struct stat& st, const JournalEntry& e) {
    return static_cast<std::uint64_t>(st.st_dev) == e.device &&
           static_cast<std::uint64_t>(st.st_ino) == e.inode;
}

bool unchanged(const struct stat& st, const JournalEntry& e) {
    return static_cast<std::uint64_t>(st.st_size) == e.size && st.st_mtim.tv_sec == e.mtime_sec &&
           st.st_mtim.tv_nsec == e.mtime_nsec;
}

// Puts back the old files of a set cut off between its renames; a new file
// changed since it was put in place stays, and is named in `notes`.
void roll_back(int folder_fd, const std::string& folder, const std::vector<JournalEntry>& entries,
               std::vector<std::string>& notes) {
    for (const JournalEntry& e : entries) {
        struct stat now {};
        if (::fstatat(folder_fd, e.target.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) continue;
        // The old file still there, or one someone else put there since.
        if (!same_file(now, e)) continue;
        if (!unchanged(now, e)) {
            notes.push_back(folder + "/" + e.target +
                            " kept as it is: changed since the write of its set was cut off");
            continue;
        }
        if (e.backup.empty())
            ::unlinkat(folder_fd, e.target.c_str(), 0);
        else
            ::renameat(folder_fd, e.backup.c_str(), folder_fd, e.target.c_str());
    }
    ::fsync(folder_fd);
}

// Opens `name` in the folder for clearing: a regular file of this user, older
// than this run, at most `most` bytes; -1 otherwise.
int open_ours(int folder_fd, const std::string& name, int flags, off_t most, struct stat& st) {
    const int fd =
        ::openat(folder_fd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_size > most || !before_run(st)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Still the file of that name: not one a clearer before us removed.
bool still_named(int folder_fd, const std::string& name, int fd) {
    struct stat st {
    }, now{};
    return ::fstat(fd, &st) == 0 && st.st_nlink > 0 &&
           ::fstatat(folder_fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

void clear_ledger(int folder_fd, const std::string& folder, const std::string& name,
                  std::vector<std::string>& notes) {
    struct stat st {};
    const int fd = open_ours(folder_fd, name, O_RDWR, MAX_LEDGER_BYTES, st);
    if (fd < 0) return;
    // Held: its writer is alive (or, on a file system without locks, may be).
    if (ofd_lock(fd, false) != 0 || !still_named(folder_fd, name, fd)) {
        ::close(fd);
        return;
    }
    const auto contents = parse_ledger(read_small_file(fd, std::size_t(MAX_LEDGER_BYTES)));
    if (!contents) {
        ::close(fd);
        return;
    }
    if (contents->journal) roll_back(folder_fd, folder, *contents->journal, notes);
    for (const std::string& hidden : contents->hidden) {
        struct stat h {};
        if (::fstatat(folder_fd, hidden.c_str(), &h, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(h.st_mode) && h.st_uid == ::geteuid())
            ::unlinkat(folder_fd, hidden.c_str(), 0);
    }
    ::unlinkat(folder_fd, name.c_str(), 0);
    ::close(fd);
}

// A lock file of ours that nobody holds: its holder died, or could not
// remove it.
void clear_lock(int folder_fd, const std::string& name) {
    struct stat st {};
    const int fd = open_ours(folder_fd, name, O_RDONLY, off_t(LOCK_FILE_TEXT.size()), st);
    if (fd < 0) return;
    if (read_small_file(fd, LOCK_FILE_TEXT.size()) == LOCK_FILE_TEXT &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && still_named(folder_fd, name, fd))
        ::unlinkat(folder_fd, name.c_str(), 0);
    ::close(fd);
}

bool lock_file_name(std::string_view name) {
    if (!name.starts_with(LOCK_PREFIX) || name.size() != LOCK_PREFIX.size() + 16) return false;
    return std::all_of(name.begin() + std::ptrdiff_t(LOCK_PREFIX.size()), name.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

} // namespace

std::string hidden_name(const std::string& folder, std::string_view suffix) {
    static std::mt19937_64 random{std::random_device{}()};
    static std::mutex mutex;
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = folder + "/" + std::string(PREFIX) + std::to_string(::getpid()) + "-";
    std::lock_guard lock(mutex);
    for (std::size_t i = 0; i < RANDOM_LETTERS; ++i)
        name += letters[random() % (sizeof letters - 1)];
    name += suffix;
    return name;
}

std::optional<long> leftover_owner(std::string_view name) {
    if (!name.starts_with(PREFIX)) return std::nullopt;
    name.remove_prefix(PREFIX.size());
    long pid = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (ec != std::errc() || pid <= 0 || end == name.data() || *end != '-') return std::nullopt;
    name.remove_prefix(static_cast<std::size_t>(end - name.data()) + 1);
    if (name.ends_with(LEDGER_SUFFIX)) name.remove_suffix(LEDGER_SUFFIX.size());
    if (name.size() != RANDOM_LETTERS) return std::nullopt;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return std::nullopt;
    return pid;
}

// ---- the ledger's text -------------------------------------------------------
// After the head, records of fields each ended by NUL: "h" NAME (a hidden name
// noted), "u" NAME (found taken), "j" ID TARGET TEMP BACKUP (a file of a set)
// "go" (the journal is whole) and "end" (its renames are done: nothing to
// roll back).

std::string ledger_head() {
    return std::string(HEAD);
}

std::string ledger_note(std::string_view name) {
    return std::string("h") + '\0' + std::string(name) + '\0';
}

std::string ledger_taken(std::string_view name) {
    return std::string("u") + '\0' + std::string(name) + '\0';
}

std::string ledger_journal(const std::vector<JournalEntry>& entries) {
    std::string text;
    for (const JournalEntry& e : entries) {
        text += std::string("j") + '\0' + entry_id(e) + '\0';
        for (const std::string* field : {&e.target, &e.temp, &e.backup}) {
            text += *field;
            text += '\0';
        }
    }
    return text + "go" + '\0';
}

std::string ledger_journal_done() {
    return std::string("end") + '\0';
}

std::optional<LedgerContents> parse_ledger(std::string_view text) {
    if (!text.starts_with(HEAD)) return std::nullopt;
    text.remove_prefix(HEAD.size());
    std::vector<std::string_view> fields;
    for (;;) {
        const auto end = text.find('\0');
        if (end == std::string_view::npos) break; // a field cut short
        fields.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    LedgerContents contents;
    std::vector<JournalEntry> pending;
    for (std::size_t i = 0; i < fields.size();) {
        const std::string_view kind = fields[i];
        const std::size_t left = fields.size() - i - 1;
        if (kind == "h" || kind == "u") {
            if (left < 1) break;
            const std::string_view name = fields[i + 1];
            if (!hidden_file_name(name)) return std::nullopt;
            if (kind == "h") {
                contents.hidden.emplace_back(name);
            } else {
                std::erase(contents.hidden, name);
            }
            i += 2;
        } else if (kind == "j") {
            if (left < 4) break;
            JournalEntry e;
            if (!parse_id(fields[i + 1], e)) return std::nullopt;
            e.target = fields[i + 2];
            e.temp = fields[i + 3];
            e.backup = fields[i + 4];
            // Every name stays in the ledger's folder; besides the targets only
            // hidden files of ours are ever touched.
            if (!plain_name(e.target) || !hidden_file_name(e.temp) ||
                (!e.backup.empty() && !hidden_file_name(e.backup)))
                return std::nullopt;
            pending.push_back(std::move(e));
            i += 5;
        } else if (kind == "go") {
            contents.journal = std::move(pending);
            pending.clear();
            i += 1;
        } else if (kind == "end") {
            contents.journal.reset();
            pending.clear();
            i += 1;
        } else {
            return std::nullopt;
        }
    }
    return contents;
}

// ---- Ledger ------------------------------------------------------------------

Ledger::File* Ledger::file_of(const std::string& folder, std::string_view first_record) {
    for (File& f : m_files)
        if (f.folder == folder) return &f;
    const std::string text = ledger_head() + std::string(first_record);
    File made{folder, {}, -1};
    // Whole before it has a name where the file system allows, so that no
    // clearer ever finds a ledger without its head.
    static const bool have_proc = ::access("/proc/self/fd", X_OK) == 0;
    if (!named_temporaries_forced() && have_proc) {
        const int fd = checked(
            Op::Open, [&] { return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); });
        if (fd >= 0) {
            if (ofd_lock(fd, false) != 0 && !no_locks_here(errno)) {
                const int error = errno;
                ::close(fd);
                errno = error;
                return nullptr;
            }
            if (const int error = write_all(fd, text, true); error != 0) {
                ::close(fd);
                errno = error;
                return nullptr;
            }
            const std::string proc = "/proc/self/fd/" + std::to_string(fd);
            for (int attempt = 0; attempt < 100 && made.fd < 0; ++attempt) {
                std::string name = hidden_name(folder, LEDGER_SUFFIX);
                const int r = checked(Op::Link, [&] {
                    return ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(),
                                    AT_SYMLINK_FOLLOW);
                });
                if (r == 0) {
                    made.name = std::move(name);
                    made.fd = fd;
                } else if (errno != EEXIST) {
                    break;
                }
            }
            if (made.fd < 0) {
                const int error = errno;
                ::close(fd);
                errno = error;
                return nullptr;
            }
            m_files.push_back(std::move(made));
            return &m_files.back();
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return nullptr;
    }
    for (int attempt = 0; attempt < 100 && made.fd < 0; ++attempt) {
        std::string name = hidden_name(folder, LEDGER_SUFFIX);
        const int fd = checked(Op::Open, [&] {
            return ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        });
        if (fd >= 0) {
            made.name = std::move(name);
            made.fd = fd;
        } else if (errno != EEXIST) {
            return nullptr;
        }
    }
    if (made.fd < 0) {
        errno = EEXIST;
        return nullptr;
    }
    // A clearer that opened it at once holds it only while it looks at it; it
    // takes no ledger without a head for one of ours.
    int error = ofd_lock(made.fd, true) != 0 && !no_locks_here(errno) ? errno : 0;
    if (error == 0) error = write_all(made.fd, text, false);
    if (error != 0) {
        ::unlink(made.name.c_str());
        ::close(made.fd);
        errno = error;
        return nullptr;
    }
    m_files.push_back(std::move(made));
    return &m_files.back();
}

int Ledger::note(const std::string& folder, const std::string& name) {
    const std::string record = ledger_note(name.substr(name.rfind('/') + 1));
    const std::size_t before = m_files.size();
    File* f = file_of(folder, record);
    if (!f) return errno;
    if (m_files.size() > before) return 0; // made with the record in it
    return write_all(f->fd, record, true);
}

void Ledger::taken(const std::string& folder, const std::string& name) {
    for (File& f : m_files)
        if (f.folder == folder)
            (void)write_all(f.fd, ledger_taken(name.substr(name.rfind('/') + 1)), false);
}

int Ledger::journal(const std::string& folder, const std::vector<JournalEntry>& entries) {
    const std::string text = ledger_journal(entries);
    const std::size_t before = m_files.size();
    File* f = file_of(folder, text);
    if (!f) return errno;
    if (m_files.size() == before) {
        if (const int error = write_all(f->fd, text, true); error != 0) return error;
    }
    if (checked(Op::Fsync, [&] { return ::fsync(f->fd); }) != 0) return errno;
    return sync_folder(folder);
}

void Ledger::journal_done() {
    // The set is in place whether or not this is written (it is no step of
    // the write that can fail it): without it, a writer cut off now is rolled
    // back to the old set, still whole, since no backup has gone yet.
    for (File& f : m_files)
        (void)write_all(f.fd, ledger_journal_done(), false);
}

void Ledger::close() {
    // Removed while still held, so that no clearer takes it for a dead one's.
    for (File& f : m_files) {
        ::unlink(f.name.c_str());
        ::close(f.fd);
    }
    m_files.clear();
}

// ---- clearing ------------------------------------------------------------------

std::vector<std::string> clear_leftovers(const std::string& folder) {
    std::vector<std::string> notes;
    std::lock_guard lock(g_mutex);
    const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd < 0) return notes;
    struct stat fst {};
    if (::fstat(folder_fd, &fst) != 0 || !g_cleared.insert({fst.st_dev, fst.st_ino}).second) {
        ::close(folder_fd);
        return notes;
    }
    std::vector<std::string> ledgers, locks;
    if (DIR* dir = ::fdopendir(::dup(folder_fd))) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view name = e->d_name;
            if (leftover_owner(name) && name.ends_with(LEDGER_SUFFIX))
                ledgers.emplace_back(name);
            else if (lock_file_name(name))
                locks.emplace_back(name);
        }
        ::closedir(dir);
    }
    for (const std::string& l : ledgers)
        clear_ledger(folder_fd, folder, l, notes);
    for (const std::string& l : locks)
        clear_lock(folder_fd, l);
    ::close(folder_fd);
    return notes;
}

} // namespace korax::file_ops

namespace korax::file_faults {

void start_new_run() {
    std::lock_guard lock(file_ops::g_mutex);
    file_ops::g_run_start = file_ops::clock_now();
    file_ops::g_cleared.clear();
}

} // namespace korax::file_faults

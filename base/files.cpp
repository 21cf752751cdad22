// SafeFile, SafeFileSet and the parts of a spectrum file name. A file is written
// to an unnamed temporary in its target's folder (a named hidden one where the
// file system cannot do that), given a short hidden name only once every write
// and the sync have succeeded, and renamed into place.
#include "base/files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace korax {

// ---- the seam of the fault-injection tests ---------------------------------

namespace file_faults {

namespace {
std::vector<Fault> g_faults;
std::array<int, OP_COUNT> g_calls{};
bool g_named = false;
std::size_t g_budget = 0;
int g_pending_error = 0; // the failure that follows an injected short write
} // namespace

const char* op_name(Op op) {
    static constexpr const char* names[OP_COUNT] = {"open",  "write", "flush",  "fsync",
                                                    "close", "link",  "rename", "unlink"};
    return names[static_cast<int>(op)];
}

void arm(std::vector<Fault> faults) {
    g_faults = std::move(faults);
    g_calls.fill(0);
    g_pending_error = 0;
}

void arm(std::optional<Fault> fault) {
    arm(fault ? std::vector<Fault>{*fault} : std::vector<Fault>{});
}

const Fault* armed(Op op, int occurrence) {
    for (const Fault& f : g_faults)
        if (f.op == op && f.occurrence == occurrence) return &f;
    return nullptr;
}

int calls(Op op) {
    return g_calls[static_cast<std::size_t>(op)];
}

void force_named_temporaries(bool on) {
    g_named = on;
}

void set_open_file_budget(std::size_t files) {
    g_budget = files;
}

} // namespace file_faults

namespace {

using file_faults::Op;

// Counts the call and returns the errno an armed fault wants for it, or 0.
int injected(Op op) {
    using namespace file_faults;
    const int n = ++g_calls[static_cast<std::size_t>(op)];
    const Fault* f = armed(op, n);
    return f && !f->short_write ? f->error : 0;
}

template <typename Call> int checked(Op op, Call call) {
    if (const int error = injected(op); error != 0) {
        errno = error;
        return -1;
    }
    return call();
}

// write(2) through the seam; an injected short write sends half the bytes and
// makes the next write fail, as a disk that fills up does.
ssize_t sys_write(Op op, int fd, const char* data, std::size_t size) {
    using namespace file_faults;
    const int n = ++g_calls[static_cast<std::size_t>(op)];
    if (g_pending_error != 0) {
        errno = std::exchange(g_pending_error, 0);
        return -1;
    }
    if (const Fault* f = armed(op, n)) {
        if (f->short_write && size > 1) {
            g_pending_error = f->error;
            return ::write(fd, data, size / 2);
        }
        errno = f->error;
        return -1;
    }
    return ::write(fd, data, size);
}

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

std::string system_text(int error) {
    return std::strerror(error);
}

// Names may use "\" like "/"; the file system only knows "/".
std::string native(std::string_view path) {
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

mode_t default_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// The file a name stands for, with symbolic links followed as far as they go,
// a dangling last link included: saving through a link replaces the file it
// names and keeps the link. 0, or the errno of a loop or an unreadable link.
int follow_links(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return errno;
        target.resize(static_cast<std::size_t>(n));
        if (target.empty()) return ENOENT;
        path = target.front() == '/' ? target : folder_of(path) + "/" + target;
    }
    return ELOOP;
}

// Hidden names of temporaries are short and fixed in length, so that they never
// make a long target name fail ("File name too long").
std::string hidden_name(const std::string& folder) {
    static std::mt19937_64 random{std::random_device{}()};
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = folder + "/.korax-";
    for (int i = 0; i < 8; ++i)
        name += letters[random() % (sizeof letters - 1)];
    return name;
}

// An unnamed temporary in `folder`, or a named hidden one when the file system
// cannot make unnamed files. -1 with errno set on failure.
int create_temporary(const std::string& folder, mode_t mode, std::string& name) {
    name.clear();
    // Unnamed files are named later through /proc.
    static const bool have_proc = ::access("/proc/self/fd", X_OK) == 0;
    if (!file_faults::g_named && have_proc) {
        const int fd = checked(Op::Open, [&] {
            return ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        });
        if (fd >= 0) return fd;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = hidden_name(folder);
        const int fd = checked(Op::Open, [&] {
            return ::open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
        });
        if (fd >= 0) {
            name = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

// Gives an unnamed temporary a hidden name in `folder`. 0 or errno.
int name_temporary(int fd, const std::string& folder, std::string& name) {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = hidden_name(folder);
        const int r = checked(Op::Link, [&] {
            return ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
        });
        if (r == 0) {
            name = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int sys_rename(const std::string& from, const std::string& to, unsigned flags = 0) {
    return checked(Op::Rename, [&] {
        return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags);
    });
}

int sys_unlink(const std::string& name) {
    return checked(Op::Unlink, [&] { return ::unlink(name.c_str()); });
}

int sys_link(const std::string& from, const std::string& to) {
    return checked(Op::Link, [&] { return ::link(from.c_str(), to.c_str()); });
}

void sync_folder(const std::string& path) {
    const int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd); // best effort: the file itself is already safe on disk
    ::close(fd);
}

std::string cleanup_text(const std::string& name, int error) {
    return "temporary " + name + " not removed: " + system_text(error);
}

// Writes go out in blocks of this size; a larger write goes out directly.
constexpr std::size_t BUFFER_BYTES = 1 << 16;

} // namespace

std::string directory_part(std::string_view fname) {
    const auto last = fname.find_last_of("/\\");
    if (last == std::string_view::npos || last == 0) return {};
    return std::string(fname.substr(0, last + 1));
}

std::string_view file_part(std::string_view fname) {
    return fname.substr(directory_part(fname).size());
}

std::vector<std::string> error_lines(std::string_view text) {
    std::vector<std::string> lines;
    for (;;) {
        const auto cut = text.find("; ");
        lines.emplace_back(text.substr(0, cut));
        if (cut == std::string_view::npos) return lines;
        text.remove_prefix(cut + 2);
    }
}

// ---- SafeFile --------------------------------------------------------------

SafeFile::~SafeFile() {
    abandon();
}

void SafeFile::fail(int error) {
    if (!m_failed) m_error = system_text(error);
    m_failed = true;
}

void SafeFile::note_cleanup(const std::string& name, int error) {
    const std::string text = cleanup_text(name, error);
    if (!m_error.empty()) m_error += "; ";
    m_error += text;
    if (!m_cleanup.empty()) m_cleanup += "; ";
    m_cleanup += text;
}

SafeFile::Status SafeFile::open(const std::string& path, OpenMode mode) {
    abandon();
    m_path = native(path);
    m_target = m_path;
    m_mode = mode;
    m_error.clear();
    m_cleanup.clear();
    m_failed = false;
    m_synced = false;
    m_buffer.clear();
    if (m_path.empty() || is_separator(m_path.back())) {
        m_error = system_text(m_path.empty() ? ENOENT : EISDIR);
        return Status::Error;
    }
    if (const int error = follow_links(m_target); error != 0) {
        m_error = system_text(error);
        return Status::Error;
    }

    mode_t file_mode = default_mode();
    struct stat st {};
    if (::stat(m_target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            m_error = system_text(EISDIR);
            return Status::Error;
        }
        if (mode == OpenMode::New) return Status::Exists;
        file_mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        m_error = system_text(errno);
        return Status::Error;
    }

    // In the target's own folder, so that the final rename stays inside one
    // file system.
    const int fd = create_temporary(folder_of(m_target), file_mode, m_temp);
    if (fd < 0) {
        m_error = system_text(errno);
        return Status::Error;
    }
    ::fchmod(fd, file_mode); // exactly the old file's mode, whatever the umask
    m_fd = fd;
    m_buffer.reserve(BUFFER_BYTES);
    return Status::Ok;
}

bool SafeFile::flush_buffer(Op op) {
    const char* p = m_buffer.data();
    std::size_t left = m_buffer.size();
    while (left > 0 && !m_failed) {
        const ssize_t n = sys_write(op, m_fd, p, left);
        if (n < 0) {
            if (errno != EINTR) fail(errno);
            continue;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    m_buffer.clear();
    return !m_failed;
}

void SafeFile::write(const void* data, std::size_t size) {
    if (m_fd < 0 || m_failed || size == 0) return;
    const auto* bytes = static_cast<const char*>(data);
    if (m_buffer.size() + size <= BUFFER_BYTES) {
        m_buffer.insert(m_buffer.end(), bytes, bytes + size);
        if (m_buffer.size() < BUFFER_BYTES) return;
        (void)flush_buffer(Op::Write);
        return;
    }
    if (!flush_buffer(Op::Write)) return;
    if (size < BUFFER_BYTES) {
        m_buffer.insert(m_buffer.end(), bytes, bytes + size);
        return;
    }
    // Large blocks go straight out instead of through the buffer.
    while (size > 0 && !m_failed) {
        const ssize_t n = sys_write(Op::Write, m_fd, bytes, size);
        if (n < 0) {
            if (errno != EINTR) fail(errno);
            continue;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

bool SafeFile::write_out() {
    if (m_failed) return false;
    if (m_fd < 0) return true;
    if (!flush_buffer(Op::Flush)) return false;
    m_buffer.shrink_to_fit();
    return true;
}

bool SafeFile::park() {
    if (!write_out()) return false;
    if (m_fd < 0) return true;
    if (m_temp.empty()) {
        if (const int error = name_temporary(m_fd, folder_of(m_target), m_temp); error != 0) {
            fail(error);
            return false;
        }
    }
    const int fd = std::exchange(m_fd, -1);
    if (checked(Op::Close, [&] { return ::close(fd); }) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

bool SafeFile::sync() {
    if (m_failed) return false;
    if (m_synced) return true;
    if (m_fd < 0) {
        // Never opened: a failed open keeps its own reason.
        if (m_error.empty()) m_error = system_text(EBADF);
        m_failed = true;
        return false;
    }
    if (!write_out()) return false;
    if (checked(Op::Fsync, [&] { return ::fsync(m_fd); }) != 0) {
        fail(errno);
        return false;
    }
    m_synced = true;
    return true;
}

bool SafeFile::finish() {
    if (!sync()) return false;
    return park();
}

bool SafeFile::put_in_place(bool sync_after) {
    int error = 0;
    if (m_mode == OpenMode::New) {
        // Never replaces a file that appeared since open().
        if (sys_rename(m_temp, m_target, RENAME_NOREPLACE) != 0) {
            error = errno;
            if (error == EINVAL || error == ENOSYS) {
                // File systems without the no-replace rename: a link fails
                // just as surely on an existing name.
                error = sys_link(m_temp, m_target) == 0 ? 0 : errno;
                if (error == 0) {
                    if (sys_unlink(m_temp) != 0) note_cleanup(m_temp, errno);
                    m_temp.clear();
                }
            }
        }
    } else if (sys_rename(m_temp, m_target) != 0) {
        error = errno;
    }
    if (error != 0) {
        fail(error);
        abandon();
        return false;
    }
    m_temp.clear();
    if (sync_after) sync_folder(m_target);
    return true;
}

bool SafeFile::commit() {
    if (!finish()) {
        abandon();
        return false;
    }
    return put_in_place();
}

void SafeFile::abandon() {
    if (m_fd >= 0) {
        ::close(m_fd); // unnamed: closing is all it takes to remove it
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        if (sys_unlink(m_temp) != 0 && errno != ENOENT) note_cleanup(m_temp, errno);
        m_temp.clear();
    }
    m_buffer.clear();
    m_buffer.shrink_to_fit();
}

// ---- SafeFileSet -----------------------------------------------------------

namespace {

// Unnamed temporaries held open at once; beyond that each is named and closed
// as soon as it is complete. Well below the usual limit of open files.
std::size_t open_file_budget() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 64;
    const rlim_t usable = limit.rlim_cur > 128 ? limit.rlim_cur - 128 : 0;
    return static_cast<std::size_t>(std::min<rlim_t>(usable, 1000));
}

} // namespace

SafeFileSet::~SafeFileSet() {
    abandon();
}

bool SafeFileSet::fail(const SafeFile& file) {
    if (!m_failed) {
        m_error = file.error_text();
        m_failed_path = file.path();
    }
    m_failed = true;
    abandon();
    return false;
}

bool SafeFileSet::finish_current() {
    if (m_files.empty()) return true;
    // Out to the kernel now, on disk at commit: one sync of the whole file
    // system there is far quicker than a wait for the disk after every page.
    SafeFile& f = *m_files.back();
    static const std::size_t usual = open_file_budget();
    const std::size_t budget = file_faults::g_budget > 0 ? file_faults::g_budget : usual;
    if (!(m_files.size() > budget ? f.park() : f.write_out())) return fail(f);
    return true;
}

SafeFile::Status SafeFileSet::add(const std::string& path, OpenMode mode) {
    if (m_failed) return SafeFile::Status::Error;
    if (!finish_current()) return SafeFile::Status::Error;
    auto& f = m_files.emplace_back(std::make_unique<SafeFile>());
    const SafeFile::Status status = f->open(path, mode);
    if (status != SafeFile::Status::Ok) {
        m_error = status == SafeFile::Status::Exists ? system_text(EEXIST) : f->error_text();
        m_failed_path = f->path();
        m_failed = true;
        abandon();
    }
    return status;
}

void SafeFileSet::write(std::string_view text) {
    if (!m_failed && !m_files.empty()) m_files.back()->write(text);
}

bool SafeFileSet::commit() {
    if (m_failed) return false;
    if (m_files.empty()) return true;
    if (!m_files.back()->write_out()) return fail(*m_files.back());
    // One sync of each file system holding the set puts every temporary on
    // disk at once and reports a failed write of any of them; a sync of each
    // file would wait for the disk thousands of times.
    std::vector<std::string> folders;
    for (const auto& f : m_files) {
        std::string folder = folder_of(f->m_target);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
    }
    for (const std::string& folder : folders) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int synced = fd < 0 ? -1 : checked(Op::Fsync, [&] { return ::syncfs(fd); });
        const int error = errno;
        if (fd >= 0) ::close(fd);
        if (synced != 0) {
            SafeFile& f = *m_files.front();
            f.fail(error);
            return fail(f);
        }
    }
    // Every temporary complete, on disk and closed before the first rename.
    for (auto& f : m_files) {
        f->m_synced = true;
        if (!f->park()) return fail(*f);
    }

    // A hidden second name of every old file, so that a rename failing half
    // way through can put back the old files already replaced.
    std::vector<std::string> backups(m_files.size());
    const auto drop_backups = [&] {
        for (const std::string& b : backups)
            if (!b.empty() && sys_unlink(b) != 0 && errno != ENOENT) {
                m_error += m_error.empty() ? "" : "; ";
                m_error += cleanup_text(b, errno);
            }
    };
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        SafeFile& f = *m_files[i];
        struct stat st {};
        if (f.m_mode == OpenMode::New || ::lstat(f.m_target.c_str(), &st) != 0) continue;
        int error = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = hidden_name(folder_of(f.m_target));
            if (sys_link(f.m_target, name) == 0) {
                backups[i] = std::move(name);
                error = 0;
                break;
            }
            error = errno;
            if (error != EEXIST) break;
        }
        if (error != 0) {
            f.fail(error);
            const bool result = fail(f);
            drop_backups();
            return result;
        }
    }

    // The folders are synced once at the end: a sync after each of thousands
    // of renames would take minutes.
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        if (m_files[i]->put_in_place(false)) continue;
        // Undo: every file already renamed gets its old version back, or
        // goes when it is new.
        m_error = m_files[i]->error_text();
        m_failed_path = m_files[i]->path();
        for (std::size_t j = 0; j < i; ++j) {
            const SafeFile& done = *m_files[j];
            const bool undone = backups[j].empty() ? sys_unlink(done.m_target) == 0
                                                   : sys_rename(backups[j], done.m_target) == 0;
            if (undone) {
                backups[j].clear();
            } else {
                m_error += "; " + done.m_target + " could not be restored: " + system_text(errno);
            }
        }
        m_failed = true;
        abandon();
        drop_backups();
        return false;
    }
    for (const std::string& folder : folders)
        sync_folder(folder + "/");
    m_files.clear();
    m_error.clear();
    drop_backups();
    return true;
}

void SafeFileSet::abandon() {
    for (auto& f : m_files) {
        f->abandon();
        // A cleanup failure is worth reporting along with the failure itself.
        if (!f->m_cleanup.empty() && m_error.find(f->m_cleanup) == std::string::npos) {
            m_error += m_error.empty() ? "" : "; ";
            m_error += f->m_cleanup;
        }
    }
    m_files.clear();
}

} // namespace korax

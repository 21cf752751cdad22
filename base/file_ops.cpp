// The shared file operations of SafeFile and SafeFileSet: links followed,
// temporaries made and named, renames, links and removals through the seam.
#include "base/file_ops.h"

#include "base/leftover_files.h"
#include "base/safe_file.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace korax::file_ops {

std::string system_text(int error) {
    return std::strerror(error);
}

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

// Saving through a link replaces the file it names and keeps the link.
LinkWalk follow_links(std::string& path) {
    LinkWalk walk;
    const std::string first_folder = folder_of(path);
    bool followed = false;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        if (hops == 40) {
            walk.error = system_text(ELOOP);
            return walk;
        }
        struct stat folder {};
        if (::stat(folder_of(path).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) &&
            (folder.st_mode & S_IWOTH) && st.st_uid != ::geteuid() && st.st_uid != folder.st_uid) {
            walk.error = LINK_REFUSED;
            return walk;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            walk.error = system_text(errno);
            return walk;
        }
        target.resize(static_cast<std::size_t>(n));
        if (target.empty()) {
            walk.error = system_text(ENOENT);
            return walk;
        }
        path = target.front() == '/' ? target : folder_of(path) + "/" + target;
        followed = true;
    }
    struct stat st {};
    if (!followed || ::lstat(path.c_str(), &st) == 0 || errno != ENOENT) return walk;
    // Where the file would be made, compared folder to folder; a folder that
    // does not exist makes the write fail anyway.
    char* home = ::realpath(first_folder.c_str(), nullptr);
    char* made = ::realpath(folder_of(path).c_str(), nullptr);
    if (home && made) {
        const std::string_view h = home, m = made;
        const bool inside =
            h == "/" || m == h || (m.starts_with(h) && m.size() > h.size() && m[h.size()] == '/');
        walk.dangling_elsewhere = !inside;
    }
    std::free(home);
    std::free(made);
    return walk;
}

int create_temporary(const std::string& folder, mode_t mode, std::string& name, Ledger& ledger) {
    name.clear();
    // Unnamed files are named later through /proc.
    static const bool have_proc = ::access("/proc/self/fd", X_OK) == 0;
    if (!named_temporaries_forced() && have_proc) {
        const int fd = checked(Op::Open, [&] {
            return ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        });
        if (fd >= 0) return fd;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = hidden_name(folder);
        if (const int error = ledger.note(folder, candidate); error != 0) {
            errno = error;
            return -1;
        }
        const int fd = checked(Op::Open, [&] {
            return ::open(candidate.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
        });
        if (fd >= 0) {
            name = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) return -1;
        ledger.taken(folder, candidate);
    }
    errno = EEXIST;
    return -1;
}

int name_temporary(int fd, const std::string& folder, std::string& name, Ledger& ledger) {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = hidden_name(folder);
        if (const int error = ledger.note(folder, candidate); error != 0) return error;
        const int r = checked(Op::Link, [&] {
            return ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
        });
        if (r == 0) {
            name = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST) return errno;
        ledger.taken(folder, candidate);
    }
    return EEXIST;
}

int sys_rename(const std::string& from, const std::string& to, unsigned flags) {
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

int sync_folder(const std::string& folder) {
    const int fd = checked(
        Op::Open, [&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return errno;
    const int synced = checked(Op::Fsync, [&] { return ::fsync(fd); });
    const int error = errno;
    ::close(fd);
    // EINVAL: a file system with nothing to sync for folders.
    return synced == 0 || error == EINVAL ? 0 : error;
}

std::string cleanup_text(const std::string& name, int error) {
    return "temporary " + name + " not removed: " + system_text(error);
}

std::string sync_text(int error) {
    return "written, but the folder could not be synced: " + system_text(error);
}

} // namespace korax::file_ops

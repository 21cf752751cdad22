// The shared file operations of SafeFile and SafeFileSet: links followed,
// temporaries made and named, renames, links and removals through the seam.
#include "base/file_ops.h"

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <random>
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

int create_temporary(const std::string& folder, mode_t mode, std::string& name) {
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

void sync_folder(const std::string& path) {
    const int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string cleanup_text(const std::string& name, int error) {
    return "temporary " + name + " not removed: " + system_text(error);
}

} // namespace korax::file_ops

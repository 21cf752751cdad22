// The lock file is ".korax-lock-" and a hash of the target's name, fixed in
// length so that a long name never makes it fail, and holds a line that tells
// it from a file someone else gave that name. Its holder removes it before
// letting go; whoever then gets the lock on the removed file sees that it is
// gone and takes the lock on the new one instead. A lock file left behind (a
// killed holder) goes at the next write into its folder, once nobody holds it.
#include "base/file_lock.h"

#include "base/file_ops.h"
#include "base/leftover_files.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace korax {

using namespace file_ops;

namespace {

// FNV-1a: the same name gives the same lock file in every build of the program.
std::uint64_t name_hash(std::string_view text) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string lock_name(std::string target) {
    const std::string folder = folder_of(target);
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(name_hash(target.substr(target.rfind('/') + 1))));
    return folder + "/" + std::string(LOCK_PREFIX) + hash;
}

bool no_locks_here(int error) {
    return error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
}

} // namespace

namespace {

// Makes the lock file with its text in place before anyone can open it, where
// the file system allows; otherwise it is made and written. 0 or errno:
// EEXIST when another program made it first.
int make_lock_file(const std::string& name) {
    const std::string folder = folder_of(name);
    static const bool have_proc = ::access("/proc/self/fd", X_OK) == 0;
    if (have_proc) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::fchmod(fd, 0644 & ~(~default_mode() & 0777));
            const bool written = ::write(fd, LOCK_FILE_TEXT.data(), LOCK_FILE_TEXT.size()) ==
                                 static_cast<ssize_t>(LOCK_FILE_TEXT.size());
            const std::string proc = "/proc/self/fd/" + std::to_string(fd);
            const int error =
                !written ? errno
                : ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0
                    ? 0
                    : errno;
            ::close(fd);
            return error;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    }
    const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    const bool written = ::write(fd, LOCK_FILE_TEXT.data(), LOCK_FILE_TEXT.size()) ==
                         static_cast<ssize_t>(LOCK_FILE_TEXT.size());
    const int error = written ? 0 : errno;
    ::close(fd);
    if (!written) ::unlink(name.c_str());
    return error;
}

// Whether the open lock file is one of ours: anything else of that name is
// locked like one, but never removed.
bool lock_file_of_ours(int fd) {
    char text[64];
    const ssize_t n = ::pread(fd, text, sizeof text, 0);
    return n == static_cast<ssize_t>(LOCK_FILE_TEXT.size()) &&
           std::string_view(text, static_cast<std::size_t>(n)) == LOCK_FILE_TEXT;
}

} // namespace

bool FileLock::lock(const std::string& path, std::chrono::milliseconds wait,
                    const std::function<void()>& waiting) {
    unlock();
    m_error.clear();
    std::string target = native(path);
    if (const LinkWalk walk = follow_links(target); !walk.error.empty()) {
        m_error = walk.error;
        return false;
    }
    m_name = lock_name(target);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    bool told = false;
    const auto refuse = [&](const std::string& why) {
        m_error = m_name + ": " + why;
        m_name.clear();
        return false;
    };
    for (;;) {
        int fd = ::open(m_name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            // The first cause is what a fallback would hide: a folder that
            // takes no new file says so, not that there is no lock file.
            const int made = make_lock_file(m_name);
            if (made != 0 && made != EEXIST) return refuse(system_text(made));
            continue;
        }
        // A lock file another user made can still be locked for reading.
        if (fd < 0 && errno == EACCES) {
            fd = ::open(m_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (fd < 0 && errno != ENOENT) return refuse(system_text(EACCES));
            if (fd < 0) continue;
        }
        if (fd < 0 && errno == ELOOP)
            return refuse("a symbolic link, not a lock file: not followed");
        if (fd < 0) return refuse(system_text(errno));
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return refuse("not a regular file");
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Still the lock file of that name, not one its last holder removed?
            struct stat now {};
            if (::fstat(fd, &st) == 0 && st.st_nlink > 0 && ::lstat(m_name.c_str(), &now) == 0 &&
                now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
                m_fd = fd;
                m_ours = lock_file_of_ours(fd);
                return true;
            }
            ::close(fd);
            continue;
        }
        const int error = errno;
        ::close(fd);
        if (no_locks_here(error)) {
            // Better unlocked than no assignment at all where the file system
            // has no locks (some network mounts).
            m_name.clear();
            return true;
        }
        if (error != EWOULDBLOCK) return refuse(system_text(error));
        if (std::chrono::steady_clock::now() >= deadline) {
            m_error = "another program is writing it (waited " +
                      std::to_string(wait.count() / 1000) + " s); try again";
            m_name.clear();
            return false;
        }
        if (!told && waiting) waiting();
        told = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void FileLock::unlock() {
    if (m_fd >= 0) {
        // Removed while still held, so that nobody takes a lock on a file that
        // is about to go; a file of that name that is not ours stays.
        if (m_ours) ::unlink(m_name.c_str());
        ::close(m_fd);
        m_fd = -1;
    }
    m_ours = false;
    m_name.clear();
}

} // namespace korax

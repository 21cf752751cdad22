// The lock file is ".korax-lock-" and a hash of the target's name, fixed in
// length so that a long name never makes it fail. Its holder removes it before
// letting go; whoever then gets the lock on the removed file sees that it is
// gone and takes the lock on the new one instead.
#include "base/file_lock.h"

#include "base/file_ops.h"

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
    return folder + "/.korax-lock-" + hash;
}

bool no_locks_here(int error) {
    return error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
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
    for (;;) {
        int fd = ::open(m_name.c_str(),
                        O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
        // A lock file another user made can still be locked for reading.
        if (fd < 0 && errno == EACCES)
            fd = ::open(m_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            m_error = system_text(errno);
            return false;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            m_error = m_name + ": not a regular file";
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Still the lock file of that name, not one its last holder removed?
            struct stat now {};
            if (::fstat(fd, &st) == 0 && st.st_nlink > 0 && ::lstat(m_name.c_str(), &now) == 0 &&
                now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
                m_fd = fd;
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
        if (error != EWOULDBLOCK) {
            m_error = system_text(error);
            return false;
        }
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
        // is about to go.
        ::unlink(m_name.c_str());
        ::close(m_fd);
        m_fd = -1;
    }
    m_name.clear();
}

} // namespace korax

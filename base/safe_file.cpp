// SafeFile: a temporary in the target's folder (unnamed where the file system
// allows, so that a killed save leaves nothing behind), given a short hidden
// name only once every write and the sync have succeeded, and renamed into place.
#include "base/safe_file.h"

#include "base/file_ops.h"
#include "base/input_file.h"
#include "base/leftover_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace korax {

using namespace file_ops;

std::vector<std::string> error_lines(std::string_view text) {
    std::vector<std::string> lines;
    for (;;) {
        const auto cut = text.find("; ");
        lines.emplace_back(text.substr(0, cut));
        if (cut == std::string_view::npos) return lines;
        text.remove_prefix(cut + 2);
    }
}

namespace {

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// An existing name that is neither a regular file nor a link nor a folder
// (whose rename fails by itself).
bool replaces_a_node(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode) &&
           !S_ISDIR(st.st_mode);
}

} // namespace

// ---- SafeFile --------------------------------------------------------------

SafeFile::SafeFile() = default;

SafeFile::~SafeFile() {
    abandon();
}

void SafeFile::fail(int error) {
    if (!m_failed) m_error = system_text(error);
    m_failed = true;
}

void SafeFile::note_cleanup(const std::string& name, int error) {
    const std::string text = cleanup_text(name, error);
    note(text);
    if (!m_cleanup.empty()) m_cleanup += "; ";
    m_cleanup += text;
}

void SafeFile::note(const std::string& text) {
    if (!m_error.empty()) m_error += "; ";
    m_error += text;
}

SafeFile::Status SafeFile::open(const std::string& path, OpenMode mode) {
    abandon();
    m_path = native(path);
    m_target = m_path;
    m_mode = mode;
    m_error.clear();
    m_cleanup.clear();
    m_leftover_note.clear();
    m_failed = false;
    m_synced = false;
    m_buffer.clear();
    if (m_path.empty() || is_separator(m_path.back())) {
        m_error = system_text(m_path.empty() ? ENOENT : EISDIR);
        return Status::Error;
    }
    const LinkWalk walk = follow_links(m_target);
    if (!walk.error.empty()) {
        m_error = walk.error;
        return Status::Error;
    }

    mode_t file_mode = default_mode();
    struct stat st {};
    if (::stat(m_target.c_str(), &st) == 0) {
        // A FIFO, a device or a socket would be replaced by a plain file (and
        // /dev/null along with it): no answer and no --force may do that.
        if (!S_ISREG(st.st_mode)) {
            m_error = NOT_REGULAR;
            return Status::Error;
        }
        if (mode == OpenMode::New) return Status::Exists;
        file_mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        m_error = system_text(errno);
        return Status::Error;
    } else if (walk.dangling_elsewhere && mode == OpenMode::New) {
        return Status::Exists;
    }

    // In the target's own folder, so that the final rename stays inside one
    // file system.
    const std::string folder = folder_of(m_target);
    for (const std::string& left : clear_leftovers(folder))
        m_leftover_note += (m_leftover_note.empty() ? "" : "; ") + left;
    if (!m_ledger) {
        m_own_ledger = std::make_unique<Ledger>();
        m_ledger = m_own_ledger.get();
    }
    const int fd = create_temporary(folder, file_mode, m_temp, *m_ledger);
    if (fd < 0) {
        m_error = system_text(errno);
        return Status::Error;
    }
    ::fchmod(fd, file_mode); // exactly the old file's mode, whatever the umask
    m_fd = fd;
    m_buffer.reserve(BUFFER_BYTES);
    return Status::Ok;
}

bool SafeFile::flush_buffer(bool last) {
    const Op op = last ? Op::Flush : Op::Write;
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
        (void)flush_buffer(false);
        return;
    }
    if (!flush_buffer(false)) return;
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
    if (!flush_buffer(true)) return false;
    m_buffer.shrink_to_fit();
    return true;
}

bool SafeFile::park() {
    if (!write_out()) return false;
    if (m_fd < 0) return true;
    if (m_temp.empty()) {
        if (const int error = name_temporary(m_fd, folder_of(m_target), m_temp, *m_ledger);
            error != 0) {
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
    } else if (replaces_a_node(m_target)) {
        // Made since open(): still not replaced.
        m_error = NOT_REGULAR;
        m_failed = true;
        abandon();
        return false;
    } else if (sys_rename(m_temp, m_target) != 0) {
        error = errno;
    }
    if (error != 0) {
        fail(error);
        abandon();
        return false;
    }
    m_temp.clear();
    if (sync_after) {
        if (const int sync_error = sync_folder(folder_of(m_target)); sync_error != 0)
            note(sync_text(sync_error));
    }
    return true;
}

bool SafeFile::commit() {
    const bool done = finish() && put_in_place();
    abandon();
    if (!m_leftover_note.empty()) note(m_leftover_note);
    return done;
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
    // Nothing of the file's is left under a hidden name.
    if (m_own_ledger) m_own_ledger->close();
}

} // namespace korax

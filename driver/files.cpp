// SafeFile and the parts of a spectrum file name. A file is written as a hidden
// temporary next to its target and renamed into place only once every write,
// the flush and the sync have succeeded.
#include "driver/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korax {

namespace {

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

// Links the finished temporary to a name that must not exist yet; unlike rename,
// this never replaces a file that appeared since open().
int put_in_place_new(const std::string& temp, const std::string& path) {
    if (::link(temp.c_str(), path.c_str()) == 0) {
        ::unlink(temp.c_str());
        return 0;
    }
    const int error = errno;
    if (error != EPERM && error != ENOTSUP && error != EOPNOTSUPP && error != ENOSYS) return error;
    // File systems without hard links.
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno;
}

void sync_folder(const std::string& path) {
    const int fd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd); // best effort: the file itself is already safe on disk
    ::close(fd);
}

} // namespace

std::string directory_part(std::string_view fname) {
    const auto last = fname.find_last_of("/\\");
    if (last == std::string_view::npos || last == 0) return {};
    return std::string(fname.substr(0, last + 1));
}

std::string_view file_part(std::string_view fname) {
    return fname.substr(directory_part(fname).size());
}

SafeFile::~SafeFile() {
    abandon();
}

SafeFile::Status SafeFile::open(const std::string& path, OpenMode mode) {
    abandon();
    m_path = native(path);
    m_mode = mode;
    m_error.clear();
    m_failed = false;
    if (m_path.empty() || is_separator(m_path.back())) {
        m_error = system_text(m_path.empty() ? ENOENT : EISDIR);
        return Status::Error;
    }

    mode_t file_mode = default_mode();
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0) {
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

    // Hidden, in the target's own folder, so that the final rename stays inside
    // one file system.
    const auto slash = m_path.rfind('/');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    std::string temp = m_path.substr(0, name_start) + "." + m_path.substr(name_start) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        m_error = system_text(errno);
        return Status::Error;
    }
    ::fchmod(fd, file_mode);
    m_file = ::fdopen(fd, "wb");
    if (!m_file) {
        m_error = system_text(errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return Status::Error;
    }
    m_temp = std::move(temp);
    return Status::Ok;
}

void SafeFile::write(const void* data, std::size_t size) {
    if (!m_file || m_failed || size == 0) return;
    if (std::fwrite(data, 1, size, m_file) != size) {
        m_failed = true;
        m_error = system_text(errno);
    }
}

bool SafeFile::commit() {
    if (!m_file) {
        if (m_error.empty()) m_error = system_text(EBADF);
        return false;
    }
    const auto fail = [&](int error) {
        if (!m_failed) m_error = system_text(error);
        m_failed = true;
        abandon();
        return false;
    };
    if (m_failed) return fail(0);
    if (std::fflush(m_file) != 0) return fail(errno);
    if (::fsync(::fileno(m_file)) != 0) return fail(errno);
    const int closed = std::fclose(m_file);
    m_file = nullptr;
    if (closed != 0) return fail(errno);

    if (m_mode == OpenMode::New) {
        if (const int error = put_in_place_new(m_temp, m_path); error != 0) return fail(error);
    } else if (::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        return fail(errno);
    }
    m_temp.clear();
    sync_folder(m_path);
    return true;
}

void SafeFile::abandon() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}

} // namespace korax

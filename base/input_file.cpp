// Opening without blocking: O_NONBLOCK makes the open of a FIFO with no writer
// return at once, and the type check then refuses it before any read.
#include "base/input_file.h"

#include "base/file_ops.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korax {

int open_input_descriptor(const std::string& path, std::string* why) {
    const auto fail = [&](const char* reason) {
        if (why) *why = reason;
        return -1;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        // A socket cannot even be opened ("No such device or address"): it
        // is named for what it is, like every other node.
        const int error = errno;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return fail(NOT_REGULAR);
        return fail(std::strerror(error));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(std::strerror(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(NOT_REGULAR);
    }
    // Reads of a regular file do not wait anyway; the flag goes so that the
    // C library sees an ordinary descriptor.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

FilePtr open_input_file(const std::string& path, std::string* why) {
    const int fd = open_input_descriptor(path, why);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        if (why) *why = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return FilePtr(file);
}

long read_input(int fd, void* data, std::size_t size) {
    for (;;) {
        const long n =
            file_ops::checked(file_faults::Op::Read, [&] { return ::read(fd, data, size); });
        if (n >= 0 || errno != EINTR) return n;
    }
}

} // namespace korax

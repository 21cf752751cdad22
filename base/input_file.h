// Opening the files the operator names (spectra, the configuration file) for
// reading. A name may lead to a FIFO or a device, whose open or read would wait
// forever or never end: only regular files are read, and the open never waits.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace korax {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The system's words for a name that exists but is no regular file.
inline constexpr const char* NOT_REGULAR = "not a regular file";

// Opens an existing regular file for reading its bytes. nullptr when that fails;
// `why`, when given, then holds the reason in the system's words: NOT_REGULAR
// for a folder, FIFO, device or socket, else the C library's text ("No such
// file or directory").
FilePtr open_input_file(const std::string& path, std::string* why = nullptr);

// The same as a descriptor, for readers that read in blocks: -1 on failure.
int open_input_descriptor(const std::string& path, std::string* why = nullptr);

// read(2) for a file that is read back before it is rewritten, through the
// fault seam of the tests (base/file_faults.h), so that a failure at any of
// its reads can be tried; EINTR is retried. Bytes read, 0 at the end, or -1
// with errno set.
long read_input(int fd, void* data, std::size_t size);

} // namespace korax

// Inside base/ only: the file operations SafeFile and SafeFileSet share, each
// through the fault seam, and the naming of their temporaries. Kept out of the
// public headers so that callers see only whole files put in place.
#pragma once

#include "base/file_faults.h"

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace korax::file_ops {

using file_faults::Op;
class Ledger;

// Counts the call and returns the errno an armed fault wants for it, or 0.
int injected(Op op);
// The test switches of file_faults.
bool named_temporaries_forced();
std::size_t open_file_budget_override();

// Runs `call` unless an armed fault fails it first (-1 with errno set).
template <typename Call> auto checked(Op op, Call call) -> decltype(call()) {
    if (const int error = injected(op); error != 0) {
        errno = error;
        return -1;
    }
    return call();
}

// write(2) through the seam; an injected short write sends half the bytes and
// makes the next write fail, as a disk that fills up does.
ssize_t sys_write(Op op, int fd, const char* data, std::size_t size);

std::string system_text(int error);
// Names may use "\" like "/"; the file system only knows "/".
std::string native(std::string_view path);
// The folder a path is in: "." for a bare name, "/" at the root.
std::string folder_of(const std::string& path);
// The mode a new file gets: 0666 less the umask.
mode_t default_mode();

// The file a name stands for, with symbolic links followed as far as they go,
// a dangling last link included. Like the kernel's protected_symlinks, a link
// in a sticky world-writable folder is followed only when it belongs to this
// user or to the folder's owner: anyone may plant links there.
struct LinkWalk {
    std::string error; // empty: `path` now names the file at the end
    // A dangling link whose file would be made outside the folder (and its
    // subfolders) that the link is in: the name is taken, though no file is.
    bool dangling_elsewhere = false;
};
LinkWalk follow_links(std::string& path);
// An unnamed temporary in `folder`, or a named hidden one when the file system
// cannot make unnamed files. -1 with errno set on failure. A hidden name is
// noted in `ledger` before it is made.
int create_temporary(const std::string& folder, mode_t mode, std::string& name, Ledger& ledger);
// Gives an unnamed temporary a hidden name in `folder`, noted in `ledger`
// first. 0 or errno.
int name_temporary(int fd, const std::string& folder, std::string& name, Ledger& ledger);

int sys_rename(const std::string& from, const std::string& to, unsigned flags = 0);
int sys_unlink(const std::string& name);
int sys_link(const std::string& from, const std::string& to);
// Puts a folder's new entries on disk. 0 or errno.
int sync_folder(const std::string& folder);

std::string cleanup_text(const std::string& name, int error);
// The note of a file in place whose folder could not be synced.
std::string sync_text(int error);

// Writes go out in blocks of this size; a larger write goes out directly.
inline constexpr std::size_t BUFFER_BYTES = 1 << 16;

} // namespace korax::file_ops

// The counts and armed faults of the seam. Tests arm it between runs; the
// program never does, so every call only counts.
#include "base/file_faults.h"

#include "base/file_ops.h"

#include <array>
#include <csignal>
#include <unistd.h>
#include <utility>

namespace korax::file_faults {

namespace {
std::vector<Fault> g_faults;
std::array<int, OP_COUNT> g_calls{};
bool g_named = false;
std::size_t g_budget = 0;
int g_pending_error = 0; // the failure that follows an injected short write

const Fault* armed(Op op, int occurrence) {
    for (const Fault& f : g_faults)
        if (f.op == op && f.occurrence == occurrence) {
            // As a power cut or kill -9 would: at once, nothing cleaned up.
            if (f.kill) ::raise(SIGKILL);
            return &f;
        }
    return nullptr;
}

int count(Op op) {
    return ++g_calls[static_cast<std::size_t>(op)];
}
} // namespace

const char* op_name(Op op) {
    static constexpr const char* names[OP_COUNT] = {"open", "write",  "flush",  "fsync", "close",
                                                    "link", "rename", "unlink", "read"};
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

int calls(Op op) {
    return g_calls[static_cast<std::size_t>(op)];
}

void force_named_temporaries(bool on) {
    g_named = on;
}

void set_open_file_budget(std::size_t files) {
    g_budget = files;
}

} // namespace korax::file_faults

namespace korax::file_ops {

using namespace file_faults;

int injected(Op op) {
    const Fault* f = armed(op, count(op));
    return f && !f->short_write ? f->error : 0;
}

bool named_temporaries_forced() {
    return g_named;
}

std::size_t open_file_budget_override() {
    return g_budget;
}

ssize_t sys_write(Op op, int fd, const char* data, std::size_t size) {
    const int n = count(op);
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

} // namespace korax::file_ops

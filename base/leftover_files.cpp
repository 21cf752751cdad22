// Clearing what killed writers left: a folder is looked at before the first
// file of a run is written into it. A set journal of a dead writer is rolled
// back first (each new file found in place gives way to its backup, or goes
// when it had none), then its temporaries and backups are removed with every
// other leftover of dead writers.
#include "base/leftover_files.h"

#include "base/file_faults.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace korax::file_ops {

namespace {

constexpr std::string_view PREFIX = ".korax-";
constexpr std::string_view JOURNAL_SUFFIX = ".set";
constexpr std::string_view JOURNAL_HEAD = "korax-set 1";
constexpr std::size_t RANDOM_LETTERS = 6;
// A journal lists the files of one plot; anything larger is not one of ours.
constexpr off_t MAX_JOURNAL_BYTES = off_t(64) << 20;

timespec clock_now() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return t;
}
// Files changed before this moment belong to earlier runs.
timespec g_run_start = clock_now();
std::mutex g_mutex;
std::set<std::pair<dev_t, ino_t>> g_cleared; // folders cleared in this run

bool before_run(const struct stat& st) {
    const timespec& c = st.st_ctim;
    return c.tv_sec < g_run_start.tv_sec ||
           (c.tv_sec == g_run_start.tv_sec && c.tv_nsec < g_run_start.tv_nsec);
}

bool writer_alive(long pid) {
    if (pid == ::getpid()) return true;
    // EPERM: alive, under another user.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

bool plain_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string read_small_file(int fd) {
    std::string text;
    char block[1 << 14];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return text;
        text.append(block, static_cast<std::size_t>(n));
    }
}

// Puts back the old files of a set cut off between its renames.
void roll_back(int folder_fd, const std::string& journal) {
    const int fd = ::openat(folder_fd, journal.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    // Only a journal this user wrote decides what is renamed and removed.
    const bool trusted = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                         st.st_size <= MAX_JOURNAL_BYTES;
    const std::string text = trusted ? read_small_file(fd) : std::string();
    ::close(fd);
    if (!trusted) return;
    // A journal cut short was being written when the writer died: no file
    // had been renamed yet, and its leftovers go like any others.
    if (const auto entries = parse_journal(text)) {
        for (const JournalEntry& e : *entries) {
            struct stat now {};
            if (::fstatat(folder_fd, e.target.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (static_cast<std::uint64_t>(now.st_dev) != e.device ||
                static_cast<std::uint64_t>(now.st_ino) != e.inode)
                continue; // the old file is still there
            if (e.backup.empty())
                ::unlinkat(folder_fd, e.target.c_str(), 0);
            else
                ::renameat(folder_fd, e.backup.c_str(), folder_fd, e.target.c_str());
        }
        ::fsync(folder_fd);
    }
    ::unlinkat(folder_fd, journal.c_str(), 0);
}

} // namespace

std::string hidden_name(const std::string& folder, std::string_view suffix) {
    static std::mt19937_64 random{std::random_device{}()};
    static std::mutex mutex;
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = folder + "/" + std::string(PREFIX) + std::to_string(::getpid()) + "-";
    std::lock_guard lock(mutex);
    for (std::size_t i = 0; i < RANDOM_LETTERS; ++i)
        name += letters[random() % (sizeof letters - 1)];
    name += suffix;
    return name;
}

std::optional<long> leftover_owner(std::string_view name) {
    if (!name.starts_with(PREFIX)) return std::nullopt;
    name.remove_prefix(PREFIX.size());
    long pid = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (ec != std::errc() || pid <= 0 || end == name.data() || *end != '-') return std::nullopt;
    name.remove_prefix(static_cast<std::size_t>(end - name.data()) + 1);
    if (name.ends_with(JOURNAL_SUFFIX)) name.remove_suffix(JOURNAL_SUFFIX.size());
    if (name.size() != RANDOM_LETTERS) return std::nullopt;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return std::nullopt;
    return pid;
}

std::string journal_text(const std::vector<JournalEntry>& entries) {
    std::string text(JOURNAL_HEAD);
    text += '\0';
    for (const JournalEntry& e : entries) {
        text += std::to_string(e.device) + " " + std::to_string(e.inode);
        for (const std::string* field : {&e.target, &e.temp, &e.backup}) {
            text += '\0';
            text += *field;
        }
        text += '\0';
    }
    return text;
}

std::optional<std::vector<JournalEntry>> parse_journal(std::string_view text) {
    std::vector<std::string_view> fields;
    while (!text.empty()) {
        const auto end = text.find('\0');
        if (end == std::string_view::npos) return std::nullopt; // cut short
        fields.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    if (fields.empty() || fields[0] != JOURNAL_HEAD || (fields.size() - 1) % 4 != 0)
        return std::nullopt;
    std::vector<JournalEntry> entries;
    for (std::size_t i = 1; i < fields.size(); i += 4) {
        JournalEntry e;
        const std::string_view id = fields[i];
        const auto blank = id.find(' ');
        if (blank == std::string_view::npos) return std::nullopt;
        const char* p = id.data();
        const auto [p1, ec1] = std::from_chars(p, p + blank, e.device);
        const auto [p2, ec2] = std::from_chars(p + blank + 1, p + id.size(), e.inode);
        if (ec1 != std::errc() || p1 != p + blank || ec2 != std::errc() || p2 != p + id.size())
            return std::nullopt;
        // Written by journal_text only: a number in another form ("02") is
        // not ours.
        if (std::to_string(e.device) != id.substr(0, blank) ||
            std::to_string(e.inode) != id.substr(blank + 1))
            return std::nullopt;
        e.target = fields[i + 1];
        e.temp = fields[i + 2];
        e.backup = fields[i + 3];
        // Every name stays in the journal's folder; besides the targets only
        // hidden files of ours are ever touched.
        if (!plain_name(e.target) || !leftover_owner(e.temp) ||
            (!e.backup.empty() && !leftover_owner(e.backup)))
            return std::nullopt;
        entries.push_back(std::move(e));
    }
    return entries;
}

void clear_leftovers(const std::string& folder) {
    std::lock_guard lock(g_mutex);
    const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd < 0) return;
    struct stat fst {};
    if (::fstat(folder_fd, &fst) != 0 || !g_cleared.insert({fst.st_dev, fst.st_ino}).second) {
        ::close(folder_fd);
        return;
    }
    std::vector<std::string> journals, others;
    if (DIR* dir = ::fdopendir(::dup(folder_fd))) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view name = e->d_name;
            const auto pid = leftover_owner(name);
            if (!pid || writer_alive(*pid)) continue;
            struct stat st {};
            if (::fstatat(folder_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(st.st_mode) || !before_run(st))
                continue;
            (name.ends_with(JOURNAL_SUFFIX) ? journals : others).emplace_back(name);
        }
        ::closedir(dir);
    }
    for (const std::string& j : journals)
        roll_back(folder_fd, j);
    for (const std::string& o : others)
        ::unlinkat(folder_fd, o.c_str(), 0);
    ::close(folder_fd);
}

} // namespace korax::file_ops

namespace korax::file_faults {

void start_new_run() {
    std::lock_guard lock(file_ops::g_mutex);
    file_ops::g_run_start = file_ops::clock_now();
    file_ops::g_cleared.clear();
}

} // namespace korax::file_faults

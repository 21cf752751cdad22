// SafeFileSet: every file of a set is written and synced before the first
// rename; a hidden second name of each old file lets a rename that fails half
// way through put back the old files already replaced.
#include "base/safe_file_set.h"

#include "base/file_ops.h"
#include "base/leftover_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korax {

using namespace file_ops;

// ---- SafeFileSet -----------------------------------------------------------

namespace {

// Unnamed temporaries held open at once; beyond that each is named and closed
// as soon as it is complete. Well below the usual limit of open files.
std::size_t open_file_budget() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 64;
    const rlim_t usable = limit.rlim_cur > 128 ? limit.rlim_cur - 128 : 0;
    return static_cast<std::size_t>(std::min<rlim_t>(usable, 1000));
}

} // namespace

SafeFileSet::SafeFileSet() = default;

SafeFileSet::~SafeFileSet() {
    abandon();
}

bool SafeFileSet::fail(const SafeFile& file) {
    if (!m_failed) {
        m_error = file.error_text();
        m_failed_path = file.path();
    }
    m_failed = true;
    abandon_files();
    return false;
}

bool SafeFileSet::finish_current() {
    if (m_files.empty()) return true;
    // Out to the kernel now, on disk at commit: one sync of the whole file
    // system there is far quicker than a wait for the disk after every page.
    SafeFile& f = *m_files.back();
    static const std::size_t usual = open_file_budget();
    const std::size_t budget =
        open_file_budget_override() > 0 ? open_file_budget_override() : usual;
    if (!(m_files.size() > budget ? f.park() : f.write_out())) return fail(f);
    return true;
}

SafeFile::Status SafeFileSet::add(const std::string& path, OpenMode mode) {
    if (m_failed) return SafeFile::Status::Error;
    if (!finish_current()) return SafeFile::Status::Error;
    if (!m_ledger) m_ledger = std::make_unique<Ledger>();
    auto& f = m_files.emplace_back(std::make_unique<SafeFile>());
    f->m_ledger = m_ledger.get();
    const SafeFile::Status status = f->open(path, mode);
    if (!f->m_leftover_note.empty())
        m_leftover_notes += (m_leftover_notes.empty() ? "" : "; ") + f->m_leftover_note;
    if (status != SafeFile::Status::Ok) {
        m_error = status == SafeFile::Status::Exists ? system_text(EEXIST) : f->error_text();
        m_failed_path = f->path();
        m_failed = true;
        abandon();
    }
    return status;
}

void SafeFileSet::write(std::string_view text) {
    if (!m_failed && !m_files.empty()) m_files.back()->write(text);
}

namespace {

std::string base_name(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

} // namespace

bool SafeFileSet::commit() {
    if (m_failed) return false;
    if (m_files.empty()) return true;
    // However it ends, nothing of the set's is left under a hidden name by
    // then, and what the folders' clearing left is said.
    struct Close {
        SafeFileSet& set;
        ~Close() {
            if (set.m_ledger) set.m_ledger->close();
            if (!set.m_leftover_notes.empty()) {
                set.m_error += set.m_error.empty() ? "" : "; ";
                set.m_error += set.m_leftover_notes;
                set.m_leftover_notes.clear();
            }
        }
    } close{*this};
    if (!m_files.back()->write_out()) return fail(*m_files.back());
    // One sync of each file system holding the set puts every temporary on
    // disk at once and reports a failed write of any of them; a sync of each
    // file would wait for the disk thousands of times.
    std::vector<std::string> folders;
    for (const auto& f : m_files) {
        std::string folder = folder_of(f->m_target);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
    }
    for (const std::string& folder : folders) {
        const int fd = checked(
            Op::Open, [&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
        const int synced = fd < 0 ? -1 : checked(Op::Fsync, [&] { return ::syncfs(fd); });
        const int error = errno;
        if (fd >= 0) ::close(fd);
        if (synced != 0) {
            SafeFile& f = *m_files.front();
            f.fail(error);
            return fail(f);
        }
    }
    // Every temporary complete, on disk and closed before the first rename.
    for (auto& f : m_files) {
        f->m_synced = true;
        if (!f->park()) return fail(*f);
    }

    // A hidden second name of every old file, so that a rename failing half
    // way through can put back the old files already replaced.
    std::vector<std::string> backups(m_files.size());
    const auto note = [&](const std::string& text) {
        m_error += m_error.empty() ? "" : "; ";
        m_error += text;
    };
    const auto drop = [&](std::vector<std::string>& names) {
        for (const std::string& b : names)
            if (!b.empty() && sys_unlink(b) != 0 && errno != ENOENT) note(cleanup_text(b, errno));
        names.clear();
    };
    const auto give_up = [&](SafeFile& f, int error) {
        f.fail(error);
        const bool result = fail(f);
        drop(backups);
        return result;
    };
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        SafeFile& f = *m_files[i];
        struct stat st {};
        if (f.m_mode == OpenMode::New || ::lstat(f.m_target.c_str(), &st) != 0) continue;
        int error = 0;
        const std::string folder = folder_of(f.m_target);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = hidden_name(folder);
            if (error = m_ledger->note(folder, name); error != 0) break;
            if (sys_link(f.m_target, name) == 0) {
                backups[i] = std::move(name);
                error = 0;
                break;
            }
            error = errno;
            if (error != EEXIST) break;
            m_ledger->taken(folder, name);
        }
        if (error != 0) return give_up(f, error);
    }

    // The ledger of each folder gets the journal of what the renames are
    // about to change, so that a run killed between two of them is rolled
    // back by the next write into that folder, with what it takes to know
    // each new file again unchanged. One file is renamed in one step and
    // needs none.
    const bool journaled = m_files.size() > 1;
    if (journaled) {
        for (const std::string& folder : folders) {
            std::vector<file_ops::JournalEntry> entries;
            for (std::size_t i = 0; i < m_files.size(); ++i) {
                const SafeFile& f = *m_files[i];
                if (folder_of(f.m_target) != folder) continue;
                struct stat st {};
                if (::lstat(f.m_temp.c_str(), &st) != 0) return give_up(*m_files[i], errno);
                entries.push_back({static_cast<std::uint64_t>(st.st_dev),
                                   static_cast<std::uint64_t>(st.st_ino),
                                   static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec,
                                   st.st_mtim.tv_nsec, base_name(f.m_target), base_name(f.m_temp),
                                   backups[i].empty() ? std::string() : base_name(backups[i])});
            }
            if (const int error = m_ledger->journal(folder, entries); error != 0)
                return give_up(*m_files.front(), error);
        }
    }

    // The folders are synced once at the end: a sync after each of thousands
    // of renames would take minutes.
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        if (m_files[i]->put_in_place(false)) continue;
        // Undo: every file already renamed gets its old version back, or
        // goes when it is new.
        m_error = m_files[i]->error_text();
        m_failed_path = m_files[i]->path();
        for (std::size_t j = 0; j < i; ++j) {
            const SafeFile& done = *m_files[j];
            const bool undone = backups[j].empty() ? sys_unlink(done.m_target) == 0
                                                   : sys_rename(backups[j], done.m_target) == 0;
            if (undone) {
                backups[j].clear();
            } else {
                m_error += "; " + done.m_target + " could not be restored: " + system_text(errno);
            }
        }
        m_failed = true;
        abandon_files();
        drop(backups);
        return false;
    }
    m_files.clear();
    m_error.clear();
    // The ledgers go only once the renames are on disk: until then a power
    // cut could still leave half a set.
    for (const std::string& folder : folders)
        if (const int error = sync_folder(folder); error != 0) note(sync_text(error));
    if (journaled) m_ledger->journal_done();
    drop(backups);
    return true;
}

void SafeFileSet::abandon() {
    abandon_files();
    if (m_ledger) m_ledger->close();
}

void SafeFileSet::abandon_files() {
    for (auto& f : m_files) {
        f->abandon();
        // A cleanup failure is worth reporting along with the failure itself.
        if (!f->m_cleanup.empty() && m_error.find(f->m_cleanup) == std::string::npos) {
            m_error += m_error.empty() ? "" : "; ";
            m_error += f->m_cleanup;
        }
    }
    m_files.clear();
}

} // namespace korax

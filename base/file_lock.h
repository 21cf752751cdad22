// FileLock: the advisory lock that writers of one file hold around reading it
// back, writing it and renaming it into place, so that two programs adding to
// the same file each keep what the other added. The lock is a hidden file
// beside the target, since the target itself is replaced at every write.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace korax {

class FileLock {
  public:
    FileLock() = default;
    ~FileLock() { unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock of the file `path` names (links followed, so that every
    // name of one file shares one lock), waiting up to `wait` while another
    // program holds it; `waiting` is called once when the wait begins. false:
    // error_text() says why (the wait ran out, or the lock file cannot be
    // made or opened: then "LOCKFILE: REASON", the first cause). On a file
    // system without locks it goes on unlocked.
    [[nodiscard]] bool lock(const std::string& path, std::chrono::milliseconds wait,
                            const std::function<void()>& waiting = {});
    // Releases the lock and removes the lock file, when it is one of ours.
    void unlock();
    const std::string& error_text() const { return m_error; }

  private:
    int m_fd = -1;
    bool m_ours = false; // the lock file holds our text: removed at unlock()
    std::string m_name;  // the lock file
    std::string m_error;
};

} // namespace korax

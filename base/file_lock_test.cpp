// The lock of a file that several programs add to: a second holder waits a
// bounded time and says so, every name of the file shares one lock, and
// nothing of it stays once it is let go.
#include "base/file_lock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

TEST(FileLock, ASecondHolderWaitsThenTakesOver) {
    const fs::path dir = fs::temp_directory_path() / ("korax-lock-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "a.lin") << "! records\n";
    fs::create_symlink("a.lin", dir / "other-name.lin");
    using std::chrono::milliseconds;

    FileLock first;
    ASSERT_TRUE(first.lock((dir / "a.lin").string(), milliseconds(100))) << first.error_text();
    for (const char* name : {"a.lin", "other-name.lin"}) {
        FileLock second;
        int told = 0;
        EXPECT_FALSE(second.lock((dir / name).string(), milliseconds(100), [&] { ++told; }))
            << name;
        EXPECT_EQ(1, told) << "the wait is said once";
        EXPECT_NE(std::string::npos, second.error_text().find("another program is writing it"));
    }
    // Let go, and the lock file goes with it; the next holder makes its own.
    first.unlock();
    EXPECT_EQ(2, std::distance(fs::directory_iterator(dir), {}));
    FileLock second;
    EXPECT_TRUE(second.lock((dir / "other-name.lin").string(), milliseconds(100)));
    EXPECT_TRUE(first.lock((dir / "b.lin").string(), milliseconds(100))) << "another file";
    second.unlock();
    first.unlock();
    EXPECT_EQ(2, std::distance(fs::directory_iterator(dir), {}));
    fs::remove_all(dir);
}

// The name of the lock file of `target`, seen while it is held.
std::string lock_file_of(const fs::path& target) {
    FileLock lock;
    if (!lock.lock(target.string(), std::chrono::milliseconds(100))) return {};
    for (const auto& e : fs::directory_iterator(target.parent_path()))
        if (e.path().filename().string().starts_with(".korax-lock-")) return e.path().string();
    return {};
}

// A file of the lock's name that is not a lock file of ours serves as the
// lock, and stays; a lock that cannot be taken names the lock file and the
// first cause, not what a fallback met after it.
TEST(FileLock, OnlyItsOwnFileGoesAndRefusalsNameTheirCause) {
    const fs::path dir = fs::temp_directory_path() / ("korax-lock-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string name = lock_file_of(dir / "a.lin");
    ASSERT_FALSE(name.empty());
    ASSERT_FALSE(fs::exists(name));
    std::ofstream(name) << "mine\n";
    {
        FileLock lock;
        ASSERT_TRUE(lock.lock((dir / "a.lin").string(), std::chrono::milliseconds(100)))
            << lock.error_text();
    }
    std::ifstream in(name);
    EXPECT_EQ("mine\n", std::string(std::istreambuf_iterator<char>(in), {}));

    fs::remove(name);
    fs::create_symlink("elsewhere", name);
    FileLock lock;
    EXPECT_FALSE(lock.lock((dir / "a.lin").string(), std::chrono::milliseconds(100)));
    EXPECT_EQ(name + ": a symbolic link, not a lock file: not followed", lock.error_text());
    fs::remove(name);

    // A folder this user cannot write: as root, in a child that is nobody.
    fs::permissions(dir, fs::perms::owner_write, fs::perm_options::remove);
    int said[2];
    ASSERT_EQ(0, ::pipe(said));
    const pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(1);
        FileLock refused;
        const std::string text =
            refused.lock((dir / "a.lin").string(), std::chrono::milliseconds(100))
                ? "locked"
                : refused.error_text();
        (void)!::write(said[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(said[1]);
    char text[512] = {};
    (void)!::read(said[0], text, sizeof text - 1);
    ::close(said[0]);
    ::waitpid(child, nullptr, 0);
    fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(name + ": " + std::strerror(EACCES), std::string(text));
    fs::remove_all(dir);
}

} // namespace
} // namespace korax

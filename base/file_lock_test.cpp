// The lock of a file that several programs add to: a second holder waits a
// bounded time and says so, every name of the file shares one lock, and
// nothing of it stays once it is let go.
#include "base/file_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

} // namespace
} // namespace korax

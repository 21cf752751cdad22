// Safe writing: nothing is overwritten unasked, and a failed write leaves the
// old file as it was.
#include "driver/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

TEST(FileName, FolderAndFileParts) {
    const struct {
        std::string name, folder, file;
    } table[] = {
        {"data/old.dat", "data/", "old.dat"},
        {"c:\\ulm\\ocs.001", "c:\\ulm\\", "ocs.001"},
        {"a/b\\c.001", "a/b\\", "c.001"},
        {"ocs.001", "", "ocs.001"},
        {"/ocs.001", "", "/ocs.001"}, // the only separator is the first character
        {"", "", ""},
    };
    for (const auto& row : table) {
        EXPECT_EQ(row.folder, directory_part(row.name)) << row.name;
        EXPECT_EQ(row.file, file_part(row.name)) << row.name;
    }
}

class SafeFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() / ("korax-files-" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        fs::permissions(m_folder, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(m_folder);
    }
    std::string path(const std::string& name) const { return (m_folder / name).string(); }
    static std::string contents(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void put(const std::string& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }
    // Everything in the folder, hidden temporaries included.
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(m_folder), {}));
    }

    fs::path m_folder;
};

TEST_F(SafeFileTest, NewFileAppearsOnlyOnCommit) {
    SafeFile f;
    ASSERT_EQ(SafeFile::Status::Ok, f.open(path("a.001"), OpenMode::New));
    f.write("spec");
    f.write(std::string_view("trum"));
    EXPECT_FALSE(fs::exists(path("a.001")));
    ASSERT_TRUE(f.commit()) << f.error_text();
    EXPECT_EQ("spectrum", contents(path("a.001")));
    EXPECT_EQ(1u, entries());
    const auto perms = fs::status(path("a.001")).permissions();
    EXPECT_NE(fs::perms::none, perms & fs::perms::others_read)
        << "not left private like a temporary";
}

TEST_F(SafeFileTest, NewNeverReplacesAFile) {
    put(path("a.001"), "old");
    SafeFile f;
    EXPECT_EQ(SafeFile::Status::Exists, f.open(path("a.001"), OpenMode::New));
    EXPECT_EQ(1u, entries());

    // A file of that name that appears between open and commit is kept too.
    ASSERT_EQ(SafeFile::Status::Ok, f.open(path("b.001"), OpenMode::New));
    f.write("new");
    put(path("b.001"), "theirs");
    EXPECT_FALSE(f.commit());
    EXPECT_FALSE(f.error_text().empty());
    EXPECT_EQ("theirs", contents(path("b.001")));
    EXPECT_EQ("old", contents(path("a.001")));
    EXPECT_EQ(2u, entries());
}

TEST_F(SafeFileTest, UnknownReplacesOnlyOnCommit) {
    put(path("a.001"), "old");
    {
        SafeFile abandoned;
        ASSERT_EQ(SafeFile::Status::Ok, abandoned.open(path("a.001"), OpenMode::Unknown));
        abandoned.write("half");
    }
    EXPECT_EQ("old", contents(path("a.001")));
    EXPECT_EQ(1u, entries());

    SafeFile f;
    ASSERT_EQ(SafeFile::Status::Ok, f.open(path("a.001"), OpenMode::Unknown));
    f.write("new");
    EXPECT_EQ("old", contents(path("a.001")));
    ASSERT_TRUE(f.commit()) << f.error_text();
    EXPECT_EQ("new", contents(path("a.001")));
    EXPECT_EQ(1u, entries());
}

TEST_F(SafeFileTest, FoldersThatCannotTakeTheFile) {
    fs::create_directory(path("sub"));
    const struct {
        std::string target;
        std::string error;
    } table[] = {
        {path("missing/a.001"), std::strerror(ENOENT)},
        {path("sub"), std::strerror(EISDIR)},
    };
    for (const auto& row : table) {
        for (OpenMode mode : {OpenMode::New, OpenMode::Unknown}) {
            SafeFile f;
            EXPECT_EQ(SafeFile::Status::Error, f.open(row.target, mode)) << row.target;
            EXPECT_EQ(row.error, f.error_text());
            EXPECT_FALSE(f.commit());
        }
    }
}

TEST_F(SafeFileTest, ReadOnlyFolder) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions are not enforced for root";
    fs::permissions(m_folder, fs::perms::owner_read | fs::perms::owner_exec);
    SafeFile f;
    EXPECT_EQ(SafeFile::Status::Error, f.open(path("a.001"), OpenMode::New));
    EXPECT_EQ(std::strerror(EACCES), f.error_text());
}

TEST_F(SafeFileTest, FailedWriteLeavesTheOldFile) {
    put(path("a.001"), "old");
    // A file size limit makes the writes fail for real, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &saved));
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));

    bool committed = true;
    std::string error;
    {
        SafeFile f;
        if (f.open(path("a.001"), OpenMode::Unknown) == SafeFile::Status::Ok) {
            const std::string block(1 << 16, 'x');
            for (int i = 0; i < 16; ++i)
                f.write(block);
            committed = f.commit();
            error = f.error_text();
        }
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(committed);
    EXPECT_EQ(std::strerror(EFBIG), error);
    EXPECT_EQ("old", contents(path("a.001")));
    EXPECT_EQ(1u, entries());
}

} // namespace
} // namespace korax

// Safe writing: nothing is overwritten unasked, and a failed write leaves the
// old file as it was.
#include "base/file_faults.h"
#include "base/input_file.h"
#include "base/safe_file.h"
#include "base/safe_file_set.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

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

TEST_F(SafeFileTest, TargetsThatCannotBeWritten) {
    // Nodes that a plain file must never replace, whatever the mode: a
    // device is made only where this user may (root, in the test's folder).
    fs::create_directory(path("sub"));
    ASSERT_EQ(0, ::mkfifo(path("fifo").c_str(), 0644));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path("socket").c_str());
    ASSERT_EQ(0, ::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    const bool device = ::mknod(path("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
    fs::create_symlink("fifo", path("link-to-fifo"));
    const struct {
        std::string target;
        std::string error;
    } table[] = {
        {path("missing/a.001"), std::strerror(ENOENT)},
        {path("sub/"), std::strerror(EISDIR)},
        {path("sub"), NOT_REGULAR},
        {path("fifo"), NOT_REGULAR},
        {path("link-to-fifo"), NOT_REGULAR},
        {path("socket"), NOT_REGULAR},
        {device ? path("null") : path("fifo"), NOT_REGULAR},
    };
    for (const auto& row : table) {
        for (OpenMode mode : {OpenMode::New, OpenMode::Unknown}) {
            SafeFile f;
            EXPECT_EQ(SafeFile::Status::Error, f.open(row.target, mode)) << row.target;
            EXPECT_EQ(row.error, f.error_text()) << row.target;
            EXPECT_FALSE(f.commit());
            EXPECT_EQ(row.error, f.error_text()) << "the reason outlives a commit";
        }
    }
    // A FIFO made between open and commit is not replaced either.
    SafeFile late;
    ASSERT_EQ(SafeFile::Status::Ok, late.open(path("late"), OpenMode::Unknown));
    late.write("x");
    ASSERT_EQ(0, ::mkfifo(path("late").c_str(), 0644));
    EXPECT_FALSE(late.commit());
    EXPECT_EQ(NOT_REGULAR, late.error_text());

    struct stat st {};
    EXPECT_TRUE(::lstat(path("fifo").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(::lstat(path("late").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(::lstat(path("socket").c_str(), &st) == 0 && S_ISSOCK(st.st_mode));
    if (device) {
        EXPECT_TRUE(::lstat(path("null").c_str(), &st) == 0 && S_ISCHR(st.st_mode));
    }
    ::close(sock);
    EXPECT_EQ(device ? 6u : 5u, entries()) << "no temporary left";
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

TEST_F(SafeFileTest, LinksAreFollowed) {
    put(path("real.001"), "old");
    fs::create_symlink("real.001", path("link.001"));
    fs::create_symlink("missing.001", path("dangling.001"));
    fs::create_hard_link(path("real.001"), path("hard.001"));
    const struct {
        std::string target, written;
        OpenMode mode;
    } table[] = {
        // The file the link names is replaced and the link stays a link.
        {"link.001", "real.001", OpenMode::Unknown},
        // A dangling link is a name waiting for its file: saving creates it.
        {"dangling.001", "missing.001", OpenMode::New},
        // Another name of the same file keeps the old contents.
        {"hard.001", "hard.001", OpenMode::Unknown},
    };
    for (const auto& row : table) {
        SafeFile f;
        ASSERT_EQ(SafeFile::Status::Ok, f.open(path(row.target), row.mode)) << row.target;
        f.write("new " + row.target);
        ASSERT_TRUE(f.commit()) << row.target << ": " << f.error_text();
        EXPECT_EQ("new " + row.target, contents(path(row.written))) << row.target;
    }
    EXPECT_TRUE(fs::is_symlink(path("link.001")));
    EXPECT_TRUE(fs::is_symlink(path("dangling.001")));
    EXPECT_EQ("new link.001", contents(path("real.001")));
    EXPECT_EQ("new hard.001", contents(path("hard.001")));
    EXPECT_EQ(5u, entries());

    // A link to an existing file still needs the operator's yes.
    SafeFile f;
    EXPECT_EQ(SafeFile::Status::Exists, f.open(path("link.001"), OpenMode::New));

    // A dangling link that leads out of its folder makes no file there
    // without it: the name is taken, if only by a link.
    const fs::path outside = m_folder.string() + "-outside";
    fs::create_directories(outside);
    fs::create_directories(path("inner/deeper"));
    fs::create_symlink(outside / "planted.001", path("inner/away.001"));
    fs::create_symlink("deeper/below.001", path("inner/below.001"));
    EXPECT_EQ(SafeFile::Status::Exists, f.open(path("inner/away.001"), OpenMode::New));
    ASSERT_EQ(SafeFile::Status::Ok, f.open(path("inner/below.001"), OpenMode::New));
    ASSERT_TRUE(f.commit());
    ASSERT_EQ(SafeFile::Status::Ok, f.open(path("inner/away.001"), OpenMode::Unknown));
    f.write("asked");
    ASSERT_TRUE(f.commit());
    EXPECT_EQ("asked", contents((outside / "planted.001").string()));
    fs::remove_all(outside);
}

// A sticky world-writable folder (/tmp) lets anyone plant a link: one that
// belongs to neither this user nor the folder's owner is not written through.
TEST_F(SafeFileTest, LinksPlantedInASharedFolder) {
    const fs::path shared = m_folder / "shared";
    fs::create_directory(shared);
    ASSERT_EQ(0, ::chmod(shared.c_str(), 01777));
    put(path("victim"), "theirs");
    fs::create_symlink(path("victim"), shared / "planted");
    fs::create_symlink(path("victim"), shared / "mine");
    const uid_t stranger = ::geteuid() == 0 ? 4242 : ::geteuid();
    if (::geteuid() != 0 || ::lchown((shared / "planted").c_str(), stranger, stranger) != 0)
        GTEST_SKIP() << "giving a link to another user needs root";
    for (OpenMode mode : {OpenMode::New, OpenMode::Unknown}) {
        SafeFile f;
        EXPECT_EQ(SafeFile::Status::Error, f.open((shared / "planted").string(), mode));
        EXPECT_EQ(LINK_REFUSED, f.error_text());
    }
    EXPECT_EQ("theirs", contents(path("victim")));
    // The same link in a folder of one's own, or one's own link, is followed.
    SafeFile f;
    ASSERT_EQ(SafeFile::Status::Ok, f.open((shared / "mine").string(), OpenMode::Unknown));
    f.write("mine");
    ASSERT_TRUE(f.commit());
    EXPECT_EQ("mine", contents(path("victim")));
    ASSERT_EQ(0, ::chmod(shared.c_str(), 0755));
    ASSERT_EQ(SafeFile::Status::Ok, f.open((shared / "planted").string(), OpenMode::Unknown));
}

TEST_F(SafeFileTest, LongestNamesAndBothKindsOfTemporary) {
    for (bool named : {false, true}) {
        file_faults::force_named_temporaries(named);
        for (std::size_t length : {1u, 200u, 255u}) {
            const std::string name = std::string(length - 1, 'x') + (named ? "n" : "u");
            SafeFile f;
            ASSERT_EQ(SafeFile::Status::Ok, f.open(path(name), OpenMode::New)) << length;
            f.write(name);
            EXPECT_TRUE(f.commit()) << length << ": " << f.error_text();
            EXPECT_EQ(name, contents(path(name)));
        }
        file_faults::force_named_temporaries(false);
    }
    EXPECT_EQ(6u, entries());
}

TEST_F(SafeFileTest, SetReplacesAllOrNothing) {
    put(path("a.gle"), "old a");
    put(path("b.gle"), "old b");
    // Rename failures at each file in turn: files already renamed get their
    // old contents back, a new file goes again.
    for (int occurrence = 1; occurrence <= 3; ++occurrence) {
        file_faults::arm(file_faults::Fault{file_faults::Op::Rename, occurrence, EIO, false});
        SafeFileSet set;
        for (const char* name : {"a.gle", "b.gle", "c.gle"}) {
            ASSERT_EQ(SafeFile::Status::Ok, set.add(path(name), OpenMode::Unknown));
            set.write(std::string("new ") + name);
        }
        EXPECT_FALSE(set.commit());
        file_faults::arm(std::nullopt);
        EXPECT_EQ(std::strerror(EIO), set.error_text());
        EXPECT_EQ("old a", contents(path("a.gle"))) << occurrence;
        EXPECT_EQ("old b", contents(path("b.gle"))) << occurrence;
        EXPECT_FALSE(fs::exists(path("c.gle"))) << occurrence;
        EXPECT_EQ(2u, entries()) << occurrence;
    }
    SafeFileSet set;
    for (const char* name : {"a.gle", "b.gle", "c.gle"}) {
        ASSERT_EQ(SafeFile::Status::Ok, set.add(path(name), OpenMode::Unknown));
        set.write(std::string("new ") + name);
    }
    ASSERT_TRUE(set.commit()) << set.error_text();
    EXPECT_EQ("new b.gle", contents(path("b.gle")));
    EXPECT_EQ("new c.gle", contents(path("c.gle")));
    EXPECT_EQ(3u, entries());
}

TEST_F(SafeFileTest, AKilledSaveLeavesNothing) {
    put(path("a.gle"), "old");
    // The writer is killed half way through a single file and through a set.
    for (int set : {0, 1}) {
        const pid_t child = ::fork();
        ASSERT_NE(-1, child);
        if (child == 0) {
            const std::string block(1 << 20, 'x');
            if (set) {
                SafeFileSet files;
                for (const char* name : {"a.gle", "b.gle", "c.gle"}) {
                    if (files.add(path(name), OpenMode::Unknown) != SafeFile::Status::Ok)
                        ::_exit(1);
                    files.write(block);
                }
                ::raise(SIGKILL);
            }
            SafeFile f;
            if (f.open(path("a.gle"), OpenMode::Unknown) != SafeFile::Status::Ok) ::_exit(1);
            f.write(block);
            f.write(block);
            ::raise(SIGKILL);
        }
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed before it was killed";
        EXPECT_EQ("old", contents(path("a.gle")));
        EXPECT_EQ(1u, entries()) << (set ? "set" : "single file");
    }
}

// A writer killed at any file operation of one file or of a set: the next
// write into that folder finds the old files or the whole new set, never a
// mix, and clears every hidden file the dead writer left.
TEST_F(SafeFileTest, AWriterKilledAtAnyOperationIsClearedUpByTheNext) {
    const std::vector<std::string> names = {"a.gle", "b.gle", "c.gle"};
    const auto restore = [&] {
        put(path("a.gle"), "old a.gle");
        put(path("b.gle"), "old b.gle");
        fs::remove(path("c.gle"));
    };
    const auto write = [&](bool set) {
        if (!set) {
            SafeFile f;
            if (f.open(path("a.gle"), OpenMode::Unknown) != SafeFile::Status::Ok) return false;
            f.write("new a.gle");
            return f.commit();
        }
        SafeFileSet files;
        for (const std::string& name : names) {
            if (files.add(path(name), OpenMode::Unknown) != SafeFile::Status::Ok) return false;
            files.write("new " + name);
        }
        return files.commit();
    };
    int kills = 0;
    for (bool named : {false, true}) {
        file_faults::force_named_temporaries(named);
        for (bool set : {false, true}) {
            restore();
            file_faults::arm(std::nullopt);
            ASSERT_TRUE(write(set));
            std::vector<std::pair<file_faults::Op, int>> points;
            for (int op = 0; op < file_faults::OP_COUNT; ++op)
                for (int n = 1; n <= file_faults::calls(file_faults::Op(op)); ++n)
                    points.emplace_back(file_faults::Op(op), n);
            for (const auto& [op, n] : points) {
                SCOPED_TRACE(std::string(set ? "set" : "one file") + (named ? ", named" : "") +
                             ", killed at " + file_faults::op_name(op) + " #" + std::to_string(n));
                restore();
                const pid_t child = ::fork();
                ASSERT_NE(-1, child);
                if (child == 0) {
                    file_faults::arm(file_faults::Fault{op, n, 0, false, true});
                    (void)write(set);
                    ::_exit(0);
                }
                int status = 0;
                ASSERT_EQ(child, ::waitpid(child, &status, 0));
                EXPECT_TRUE(WIFSIGNALED(status)) << "not killed";
                ++kills;
                // The next run writes into the folder.
                file_faults::start_new_run();
                file_faults::arm(std::nullopt);
                SafeFile next;
                ASSERT_EQ(SafeFile::Status::Ok, next.open(path("next"), OpenMode::New));
                next.abandon();

                const std::string a = contents(path("a.gle"));
                if (set) {
                    const bool old_set = a == "old a.gle" &&
                                         contents(path("b.gle")) == "old b.gle" &&
                                         !fs::exists(path("c.gle"));
                    const bool new_set = a == "new a.gle" &&
                                         contents(path("b.gle")) == "new b.gle" &&
                                         contents(path("c.gle")) == "new c.gle";
                    EXPECT_TRUE(old_set || new_set) << "a mix of old and new files";
                } else {
                    EXPECT_TRUE(a == "old a.gle" || a == "new a.gle") << a;
                }
                for (const auto& e : fs::directory_iterator(m_folder))
                    EXPECT_FALSE(e.path().filename().string().starts_with(".korax"))
                        << "left: " << e.path().filename();
            }
        }
    }
    file_faults::force_named_temporaries(false);
    EXPECT_GT(kills, 40);
}

} // namespace
} // namespace korax

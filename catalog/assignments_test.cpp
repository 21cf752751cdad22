// Records of the assignment file, recognising a transition already in it, and
// writing it safely: a failure at any step leaves the old file and no stray
// temporary behind, and the next try succeeds.
#include "catalog/assignments.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/resource.h>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

QuantumNumbers qn(std::vector<int> values) {
    QuantumNumbers q;
    q.n = static_cast<int>(values.size() / 2);
    std::copy(values.begin(), values.end(), q.values.begin());
    return q;
}

TEST(AssignmentRecord, Layout) {
    // Twelve 3-column fields (36 columns), upper state first, then the numbers.
    EXPECT_EQ(" 20  1 19 19  1 18                       240046.0297     0.0005   1.0000  ! ocs.001",
              lin_line(qn({20, 1, 19, 19, 1, 18}), 240046.0297, 0.0005, 1.0, "ocs.001"));
    // Unused fields are blank; frequency in 16 columns, uncertainty 11, weight 9.
    EXPECT_EQ("  5  4" + std::string(30, ' ') + "       1234.5000     0.0100   0.5000",
              lin_line(qn({5, 4}), 1234.5, 0.01, 0.5, ""));
    EXPECT_EQ("  1  2  3  4  5  6-11  2  3  4  5359     100000.0000     0.0500   1.0000  ! a b",
              lin_line(qn({1, 2, 3, 4, 5, 6, -11, 2, 3, 4, 5, 359}), 1e5, 0.05, 1, "a b"));
    // A strong line's error below the last decimal keeps its value.
    EXPECT_EQ("  5  4" + std::string(30, ' ') + "       1234.5000  3.200E-05   1.0000",
              lin_line(qn({5, 4}), 1234.5, 0.000032, 1.0, ""));
    // Values the fields cannot hold, or numbers that would not read back.
    EXPECT_FALSE(lin_line(qn({1000, 1}), 1, 1, 1, ""));
    EXPECT_FALSE(lin_line(qn({-100, 1}), 1, 1, 1, ""));
    EXPECT_FALSE(lin_line(qn({1, 1}), NAN, 1, 1, ""));
    EXPECT_FALSE(lin_line(qn({1, 1}), 1, INFINITY, 1, ""));
}

TEST(AssignmentRecord, SameTransition) {
    const std::string record = *lin_line(qn({20, 1, 19, 19, 1, 18}), 240046.0297, 0.0005, 1, "x");
    struct Case {
        std::string record;
        std::vector<int> values;
        bool same;
    } cases[] = {
        {record, {20, 1, 19, 19, 1, 18}, true},
        {record, {20, 1, 19, 19, 1, 17}, false},
        {record, {20, 1, 19, 19, 1}, false}, // 2 numbers per state read differently
        {" 20  1 19 19  1 18  0  0  0  0  0  0  240046.0297  0.0005", {20, 1, 19, 19, 1, 18}, true},
        {" 20  1 19 19  1 18  0  0  0  0  0  1  240046.0297  0.0005",
         {20, 1, 19, 19, 1, 18},
         false},
        {" 20  1 1x 19  1 18", {20, 1, 19, 19, 1, 18}, false},
        {"", {20, 1, 19, 19, 1, 18}, false},
        {"", {}, true}, // an empty record holds no transition but matches "no numbers"
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.same, same_transition(c.record, qn(c.values))) << '"' << c.record << '"';
}

class AssignmentFileTest : public ::testing::Test {
  protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("korax_lin_test_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all);
        fs::remove_all(dir);
    }
    std::string contents(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    std::size_t entries() {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
    }
};

TEST_F(AssignmentFileTest, ReadKeepsLinesAndTheirLineEnd) {
    std::ofstream(dir / "unix.lin", std::ios::binary) << "first\nsecond line\n";
    AssignmentFile f = read_assignments((dir / "unix.lin").string());
    EXPECT_TRUE(f.exists);
    EXPECT_EQ("", f.error);
    EXPECT_EQ((std::vector<std::string>{"first", "second line"}), f.lines);
    f.lines.push_back("third");
    EXPECT_EQ("", write_assignments((dir / "unix.lin").string(), f.lines, f.eol));
    EXPECT_EQ("first\nsecond line\nthird\n", contents(dir / "unix.lin"));

    AssignmentFile none = read_assignments((dir / "none.lin").string());
    EXPECT_FALSE(none.exists);
    EXPECT_EQ("", none.error);
    EXPECT_TRUE(none.lines.empty());
    EXPECT_EQ("\r\n", none.eol);
    EXPECT_NE("", read_assignments(dir.string()).error) << "a folder is not an assignment file";
}

TEST_F(AssignmentFileTest, FailedWritesLeaveTheOldFile) {
    const fs::path file = dir / "a.lin";
    std::ofstream(file, std::ios::binary) << "old\r\n";
    const std::vector<std::string> lines(2000, std::string(70, 'x'));

    // A missing folder, and a name that is a folder.
    EXPECT_NE("", write_assignments((dir / "no" / "a.lin").string(), lines));
    fs::create_directory(dir / "sub.lin");
    EXPECT_NE("", write_assignments((dir / "sub.lin").string(), lines));
    fs::remove(dir / "sub.lin");

    // A full disk, made real with a file size limit.
    rlimit saved{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &saved));
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
    const std::string error = write_assignments(file.string(), lines);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(std::strerror(EFBIG), error);
    EXPECT_EQ("old\r\n", contents(file));

    // A folder that takes no new files (the temporary cannot be made).
    if (::geteuid() != 0) {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(std::strerror(EACCES), write_assignments(file.string(), lines));
        fs::permissions(dir, fs::perms::owner_all);
        EXPECT_EQ("old\r\n", contents(file));
    }
    EXPECT_EQ(1u, entries()) << "no temporary left behind";

    // And the retry works.
    EXPECT_EQ("", write_assignments(file.string(), {"new"}));
    EXPECT_EQ("new\r\n", contents(file));
    EXPECT_EQ(1u, entries());
}

} // namespace
} // namespace korax

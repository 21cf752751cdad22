// Every writer against a failure of each file operation in turn: the old files
// stay byte for byte, no temporary is left, the screen says the write failed
// (never that it was written), and a second try works. A new writer is one
// more row of the table.
#include "analysis/autopk.h"
#include "base/file_faults.h"
#include "base/file_lock.h"
#include "base/safe_file_set.h"
#include "output/gleout.h"
#include "output/savesp.h"
#include "output/write_faults.h"
#include "spectrum/store.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <sched.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace korax {
namespace {

using namespace write_faults;

class WriteFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        // Short, so that a path and a reason fit on one row of the screen.
        dir = fs::path("/tmp") / ("kf" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        SpectrumStore& s = store();
        s.reset();
        // 40000 points: the save image and the plot data are larger than one
        // write block, so that writes fail in the middle of a file too.
        s.NPTS = 40000;
        for (std::int32_t i = 1; i <= s.NPTS; ++i) {
            s.FREQ[std::size_t(i)] = 1000 + 0.01 * i;
            s.INTENS[std::size_t(i)] = i % 500 == 0 ? 2000 : (i * 7) % 50;
        }
        s.FSTART = s.FREQ[1];
        s.FEND = s.FREQ[40000];
        s.FSTEP = 0.01;
        s.IYMIN = 0;
        s.IYMAX = 2000;
        s.FNAME = (dir / "spec.001").string();
    }
    void TearDown() override {
        file_faults::arm(std::nullopt);
        file_faults::force_named_temporaries(false);
        file_faults::set_open_file_budget(0);
        fs::remove_all(dir);
    }

    std::vector<Writer> writers() {
        std::vector<Writer> table;
        table.push_back({"save",
                         {"saved.001"},
                         {"saved.001", "Y"},
                         [] { SAVESP(); },
                         "Output has been written to",
                         {}});
        table.push_back({"peakfinder",
                         {"peaks.txt"},
                         {"1", "peaks.txt", "Y"},
                         [] {
                             std::int32_t first = 1, last = 40000;
                             std::int16_t cutoff = 1000, baseline = 0, nfit = 9;
                             double height = 2000;
                             AUTOPK(first, last, cutoff, baseline, nfit, height);
                         },
                         "Output has been written to",
                         {}});
        table.push_back({"gle set",
                         {"spec.dat", "spec1.gle", "spec2.gle", "spec3.gle"},
                         {"", "Y"},
                         [] {
                             // Three strips of 10 units over 3000 points.
                             GLESET() = {1, 1.0, 10.0 / STRIP_MM};
                             double start = 1000, end = 1030, ylow = 0, yhigh = 2000;
                             GLEOUT(start, end, ylow, yhigh);
                         },
                         "Data written to",
                         {}});
        return table;
    }

    fs::path dir;
};

TEST_F(WriteFaults, EveryOperationOfEveryWriter) {
    int cases = 0;
    // Unnamed temporaries held open, named ones, and unnamed ones closed as
    // soon as they are written (as the pages of a set beyond a thousand are).
    for (int kind : {0, 1, 2}) {
        file_faults::force_named_temporaries(kind == 1);
        file_faults::set_open_file_budget(kind == 2 ? 1 : 0);
        for (const Writer& w : writers()) {
            if (kind == 2 && w.name != "gle set") continue;
            SCOPED_TRACE(w.name + (kind == 1   ? ", named temporaries"
                                   : kind == 2 ? ", closed early"
                                               : ", unnamed temporaries"));
            cases += check_every_fault(dir, w);
        }
    }
    std::cout << "fault-injection cases run: " << cases << "\n";
    EXPECT_GT(cases, 100);
}

// A failed cleanup after a failure: the old files are kept, and the temporary
// that could not be removed is named on the screen.
TEST_F(WriteFaults, ATemporaryThatCannotBeRemovedIsNamed) {
    file_faults::force_named_temporaries(true);
    for (const Writer& w : writers()) {
        SCOPED_TRACE(w.name);
        for (const std::string& f : w.files)
            std::ofstream(dir / f, std::ios::binary) << "old " << f;
        const auto old = folder_contents(dir);
        file_faults::arm(
            std::vector<Fault>{{Op::Rename, 1, EIO, false}, {Op::Unlink, 1, EIO, false}});
        TestWindow t;
        run_to_report(t, w);
        file_faults::arm(std::nullopt);
        EXPECT_FALSE(t.screen_contains(w.written));
        int left = 0;
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string name = e.path().filename().string();
            if (old.contains(name)) {
                EXPECT_EQ(old.at(name), file_bytes(e.path())) << name;
            } else {
                ++left;
                EXPECT_TRUE(t.screen_contains(name)) << name;
                fs::remove(e.path());
            }
        }
        EXPECT_EQ(1, left);
        for (const std::string& f : w.files)
            fs::remove(dir / f);
    }
}

// ---- what the clean-up before a write may touch -----------------------------

std::set<std::string> hidden_files(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().starts_with(".korax")) names.insert(e.path().filename());
    return names;
}

// The save writes into the folder, after the clean-up of what earlier runs
// left there; returns the screen's rows.
std::string save_in_new_run(const Writer& save) {
    file_faults::start_new_run();
    fs::remove(fs::path(store().FNAME).parent_path() / "saved.001");
    TestWindow t;
    run_to_report(t, save);
    std::string rows;
    for (int r = 1; r <= t.window().text_grid().rows(); ++r)
        rows += t.row(r) + "\n";
    return rows;
}

// A set cut off between its renames by a kill, in a child process: the first
// file is new, the others old.
void kill_a_set_between_renames(const fs::path& dir) {
    const pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        SafeFileSet set;
        for (const char* name : {"a.gle", "b.gle", "c.gle"}) {
            if (set.add((dir / name).string(), OpenMode::Unknown) != SafeFile::Status::Ok)
                ::_exit(1);
            set.write(std::string("new ") + name);
        }
        file_faults::arm(Fault{Op::Rename, 2, 0, false, true});
        (void)set.commit();
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << "not killed between the renames";
    ASSERT_EQ("new a.gle", file_bytes(dir / "a.gle"));
    ASSERT_EQ("old b.gle", file_bytes(dir / "b.gle"));
}

// A set cut off between two renames is rolled back by the next write into its
// folder, but never over a file changed since: that one stays, and the
// writer's report names it.
TEST_F(WriteFaults, TheRollBackKeepsAFileEditedSince) {
    const Writer save = writers().front();
    for (bool edited : {false, true}) {
        SCOPED_TRACE(edited ? "edited" : "as the set left it");
        std::ofstream(dir / "a.gle") << "old a.gle";
        std::ofstream(dir / "b.gle") << "old b.gle";
        fs::remove(dir / "c.gle");
        kill_a_set_between_renames(dir);
        if (edited) std::ofstream(dir / "a.gle", std::ios::app) << "\nthe user's own line";
        const std::string rows = save_in_new_run(save);
        EXPECT_NE(std::string::npos, rows.find(save.written)) << rows;
        EXPECT_EQ(edited ? "new a.gle\nthe user's own line" : "old a.gle",
                  file_bytes(dir / "a.gle"));
        EXPECT_EQ("old b.gle", file_bytes(dir / "b.gle"));
        EXPECT_FALSE(fs::exists(dir / "c.gle"));
        EXPECT_EQ(edited, rows.find("a.gle kept as it is: changed since the write of its set") !=
                              std::string::npos)
            << rows;
        EXPECT_EQ(std::set<std::string>{}, hidden_files(dir)) << "the dead writer's files go";
    }
}

// Files of the user with the program's names, made before the run and not
// listed by any ledger, are never removed, however dead the process their
// name gives; nor is a lock file anybody holds.
TEST_F(WriteFaults, TheCleanUpLeavesWhatIsNotItsOwn) {
    const Writer save = writers().front();
    const std::vector<std::string> users = {".korax-99999-abcdef", ".korax-99999-abcdef.set",
                                            ".korax-lock-0123456789abcdef"};
    for (const std::string& name : users)
        std::ofstream(dir / name) << "mine\n";
    // An empty file and one in a ledger's head, too, without the ledger's lock
    // being the program's own: the names a ledger lists decide, not the names.
    std::ofstream(dir / ".korax-99999-qqqqqq");
    FileLock held;
    ASSERT_TRUE(held.lock((dir / "a.lin").string(), std::chrono::milliseconds(100)));
    const std::set<std::string> before = hidden_files(dir);
    ASSERT_EQ(5u, before.size());
    const std::string rows = save_in_new_run(save);
    EXPECT_NE(std::string::npos, rows.find(save.written)) << rows;
    EXPECT_EQ(before, hidden_files(dir));
    for (const std::string& name : users)
        EXPECT_EQ("mine\n", file_bytes(dir / name)) << name;
    held.unlock();
    EXPECT_EQ(4u, hidden_files(dir).size()) << "the lock file goes with its holder";
    for (const auto& e : fs::directory_iterator(dir))
        fs::remove(e.path());
}

// A lock file whose holder was killed goes at the next write into its folder.
TEST_F(WriteFaults, AStaleLockFileGoesAtTheNextWrite) {
    const Writer save = writers().front();
    const pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        FileLock lock;
        if (!lock.lock((dir / "a.lin").string(), std::chrono::milliseconds(100))) ::_exit(1);
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(1u, hidden_files(dir).size()) << "the killed holder's lock file";
    const std::string rows = save_in_new_run(save);
    EXPECT_NE(std::string::npos, rows.find(save.written)) << rows;
    EXPECT_EQ(std::set<std::string>{}, hidden_files(dir));
    fs::remove(dir / "saved.001");
}

// A writer alive in another PID namespace (a container sharing the folder)
// keeps its files through the clean-up of another writer; once it is dead,
// the next clean-up removes them.
TEST_F(WriteFaults, AWriterInAnotherPidNamespaceIsAlive) {
    const Writer save = writers().front();
    // The writer gets a process number that no process has out here, as a
    // container's often have: what the number says outside means nothing.
    pid_t free_number = 2;
    while (::kill(free_number, 0) == 0 || errno != ESRCH)
        ++free_number;
    int ready[2], hold[2];
    ASSERT_EQ(0, ::pipe(ready));
    ASSERT_EQ(0, ::pipe(hold));
    const pid_t child = ::fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        ::close(ready[0]);
        ::close(hold[1]);
        const auto report = [&](const std::string& text) {
            (void)!::write(ready[1], text.data(), text.size());
            ::close(ready[1]);
        };
        if (::unshare(CLONE_NEWPID) != 0) {
            const uid_t uid = ::geteuid();
            const gid_t gid = ::getegid();
            if (::unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0) {
                report(std::string("no PID namespace: ") + std::strerror(errno));
                ::_exit(0);
            }
            std::ofstream("/proc/self/setgroups") << "deny";
            std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
            std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
        }
        const pid_t inner = ::fork();
        if (inner == 0) {
            // Process 1 of its namespace; numbers are handed out in turn.
            for (pid_t made = 1; made < free_number - 1;) {
                made = ::fork();
                if (made == 0) ::_exit(0);
                if (made < 0) break;
                ::waitpid(made, nullptr, 0);
            }
            if (::fork() != 0) {
                ::wait(nullptr);
                ::_exit(0);
            }
            // Named temporaries, so that its files carry its number.
            file_faults::force_named_temporaries(true);
            auto* set = new SafeFileSet;
            for (const char* name : {"a.gle", "b.gle"})
                if (set->add((dir / name).string(), OpenMode::Unknown) != SafeFile::Status::Ok) {
                    report("the writer could not start");
                    ::_exit(1);
                }
            report(std::to_string(::getpid()));
            char c;
            (void)!::read(hold[0], &c, 1);
            ::_exit(0); // dies with its files in place
        }
        int inner_status = 0;
        ::waitpid(inner, &inner_status, 0);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    char text[256] = {};
    (void)!::read(ready[0], text, sizeof text - 1);
    ::close(ready[0]);
    const std::string said = text;
    const auto end = [&] {
        ::close(hold[1]);
        int status = 0;
        ::waitpid(child, &status, 0);
    };
    if (said.starts_with("no PID namespace")) {
        end();
        GTEST_SKIP() << said;
    }
    ASSERT_EQ(std::to_string(free_number), said) << "the writer's number in its namespace";
    const std::set<std::string> live = hidden_files(dir);
    ASSERT_EQ(3u, live.size()) << "two temporaries and the ledger";
    std::string rows = save_in_new_run(save);
    EXPECT_NE(std::string::npos, rows.find(save.written)) << rows;
    EXPECT_EQ(live, hidden_files(dir)) << "taken for dead";
    end();
    rows = save_in_new_run(save);
    EXPECT_NE(std::string::npos, rows.find(save.written)) << rows;
    EXPECT_EQ(std::set<std::string>{}, hidden_files(dir)) << "left by the dead writer";
    fs::remove(dir / "saved.001");
}

} // namespace
} // namespace korax

// Every writer against a failure of each file operation in turn: the old files
// stay byte for byte, no temporary is left, the screen says the write failed
// (never that it was written), and a second try works. A new writer is one
// more row of the table.
#include "analysis/autopk.h"
#include "driver/files.h"
#include "driver/store.h"
#include "output/gleout.h"
#include "output/savesp.h"
#include "window/test_window.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;
using file_faults::Fault;
using file_faults::Op;

std::string file_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::map<std::string, std::string> folder_contents(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
        files[e.path().filename().string()] = file_bytes(e.path());
    return files;
}

struct Writer {
    std::string name;
    std::vector<std::string> files; // what it replaces, in the test folder
    std::vector<std::string> keys;  // typed up to its last "Press ENTER"
    std::function<void()> run;
    std::string written; // on the screen after success only
};

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

    // Runs a writer until it waits at its last "Press ENTER"; the screen then
    // shows its report.
    static void run_to_report(TestWindow& t, const Writer& w) {
        for (const std::string& k : w.keys)
            t.type(k);
        try {
            w.run();
        } catch (const RunEnded&) {
        }
        t.front_end.keys.clear();
    }

    std::vector<Writer> writers() {
        std::vector<Writer> table;
        table.push_back({"save", {"saved.001"}, {"saved.001", "Y"}, [] { SAVESP(); },
                         "Output has been written to"});
        table.push_back({"peakfinder",
                         {"peaks.txt"},
                         {"1", "peaks.txt", "Y"},
                         [] {
                             std::int32_t first = 1, last = 40000;
                             std::int16_t cutoff = 1000, baseline = 0, nfit = 9;
                             double height = 2000;
                             AUTOPK(first, last, cutoff, baseline, nfit, height);
                         },
                         "Output has been written to"});
        table.push_back({"gle set",
                         {"spec.dat", "spec1.gle", "spec2.gle", "spec3.gle"},
                         {"", "Y"},
                         [] {
                             // Three strips of 10 units over 3000 points.
                             GLESET() = {1, 1.0, 10.0 / STRIP_MM};
                             double start = 1000, end = 1030, ylow = 0, yhigh = 2000;
                             GLEOUT(start, end, ylow, yhigh);
                         },
                         "Data written to"});
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
            SCOPED_TRACE(w.name + (kind == 1 ? ", named temporaries" : kind == 2 ? ", closed early" : ", unnamed temporaries"));
            // The old files, and how often the writer calls each operation.
            for (const std::string& f : w.files)
                std::ofstream(dir / f, std::ios::binary) << "old " << f;
            const auto old = folder_contents(dir);
            file_faults::arm(std::nullopt);
            {
                TestWindow t;
                run_to_report(t, w);
                ASSERT_TRUE(t.screen_contains(w.written));
            }
            std::array<int, file_faults::OP_COUNT> calls{};
            for (int op = 0; op < file_faults::OP_COUNT; ++op)
                calls[std::size_t(op)] = file_faults::calls(Op(op));
            const auto fresh = folder_contents(dir);

            std::vector<Fault> faults;
            for (int op = 0; op < file_faults::OP_COUNT; ++op)
                for (int n = 1; n <= calls[std::size_t(op)]; ++n) {
                    for (int error : {ENOSPC, EIO, EACCES})
                        faults.push_back({Op(op), n, error, false});
                    if (Op(op) == Op::Write || Op(op) == Op::Flush)
                        faults.push_back({Op(op), n, ENOSPC, true});
                }
            for (const Fault& fault : faults) {
                SCOPED_TRACE(std::string(file_faults::op_name(fault.op)) + " #" +
                             std::to_string(fault.occurrence) + ": " + std::strerror(fault.error) +
                             (fault.short_write ? " after a short write" : ""));
                ++cases;
                for (const auto& [name, bytes] : old)
                    std::ofstream(dir / name, std::ios::binary) << bytes;
                file_faults::arm(fault);
                TestWindow t;
                run_to_report(t, w);
                file_faults::arm(std::nullopt);
                const auto after = folder_contents(dir);
                if (t.screen_contains(w.written)) {
                    // Only a cleanup may fail after the files are in place, and
                    // then the screen names what was left.
                    EXPECT_EQ(Op::Unlink, fault.op);
                    for (const auto& [name, bytes] : after)
                        if (!fresh.contains(name)) {
                            EXPECT_TRUE(t.screen_contains(name)) << name;
                            fs::remove(dir / name);
                        }
                } else {
                    EXPECT_EQ(old, after);
                    EXPECT_TRUE(t.screen_contains(std::strerror(fault.error)));
                }
                // A second try, with nothing failing, writes everything.
                TestWindow again;
                run_to_report(again, w);
                EXPECT_TRUE(again.screen_contains(w.written));
                for (const std::string& f : w.files)
                    EXPECT_EQ(fresh.at(f), file_bytes(dir / f)) << f;
                for (const auto& e : fs::directory_iterator(dir))
                    if (!old.contains(e.path().filename().string()))
                        ADD_FAILURE() << "left behind: " << e.path().filename();
                for (const auto& e : fs::directory_iterator(dir))
                    if (!fresh.contains(e.path().filename().string())) fs::remove(e.path());
            }
            for (const std::string& f : w.files)
                fs::remove(dir / f);
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
        file_faults::arm(std::vector<Fault>{{Op::Rename, 1, EIO, false}, {Op::Unlink, 1, EIO, false}});
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

} // namespace
} // namespace korax

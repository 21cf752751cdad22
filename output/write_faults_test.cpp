// Every writer against a failure of each file operation in turn: the old files
// stay byte for byte, no temporary is left, the screen says the write failed
// (never that it was written), and a second try works. A new writer is one
// more row of the table.
#include "analysis/autopk.h"
#include "base/file_faults.h"
#include "output/gleout.h"
#include "output/savesp.h"
#include "output/write_faults.h"
#include "spectrum/store.h"
#include "testing/test_window.h"

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

} // namespace
} // namespace korax

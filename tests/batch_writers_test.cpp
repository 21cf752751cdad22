// The batch commands' outputs in the fault table of every writer: a failure at
// each file operation leaves the old results file, converted spectrum or
// difference as it was and says why on standard error with status 1; a failure after the file
// is in place (the folder not synced) is said too, and the status is still 1.
#include "base/file_faults.h"
#include "batch/commands.h"
#include "output/write_faults.h"
#include "testing/test_window.h"
#include "window/window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <unistd.h>

namespace korax {
namespace {

using namespace write_faults;

// Runs a batch command with its standard output and error on the window, so
// that the table reads them as it reads a writer's screen, and checks the
// status against what was said.
void run_on_screen(const std::function<int()>& command) {
    std::ostringstream out, err;
    auto* old_out = std::cout.rdbuf(out.rdbuf());
    auto* old_err = std::cerr.rdbuf(err.rdbuf());
    const int status = command();
    std::cout.rdbuf(old_out);
    std::cerr.rdbuf(old_err);
    const std::string said = out.str() + err.str();
    std::istringstream lines(said);
    // A row holds 80 columns: longer lines go on in the next row, cut after
    // a ": ", so that the reason at the end stays whole.
    for (std::string line; std::getline(lines, line);) {
        while (line.size() > 80) {
            const auto cut = line.rfind(": ", 78);
            const std::size_t at = cut == std::string::npos ? 80 : cut + 2;
            window().write_line(line.substr(0, at));
            line.erase(0, at);
        }
        window().write_line(line);
    }
    const bool clean = said.find(" -> ") != std::string::npos &&
                       said.find("could not be synced") == std::string::npos &&
                       said.find("not removed") == std::string::npos;
    EXPECT_EQ(clean ? 0 : 1, status) << said;
}

TEST(BatchWriters, EveryOperationOfPeaksConvertAndDiff) {
    // Short relative names, so that a message and its reason fit on a row.
    const fs::path dir = fs::path("/tmp") / ("kb" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path here = fs::current_path();
    fs::current_path(dir);
    {
        // A text spectrum of 40000 points with a line every 500, so that the
        // PELMO image is larger than one write block.
        std::ofstream spectrum("spec.txt", std::ios::binary);
        spectrum << "a spectrum for the fault table\r\n";
        for (int i = 1; i <= 40000; ++i)
            spectrum << 1000 + 0.01 * i << ' ' << (i % 500 == 0 ? 2000 : (i * 7) % 50) << "\r\n";
    }
    const Writer convert{"convert",
                         {"conv.001"},
                         {},
                         [] {
                             run_on_screen(
                                 [] { return run_convert({"spec.txt", "conv.001", true}); }); },
                         " -> ",
                         {}};
    const Writer peaks{"peaks",
                       {"spec.txt.peaks"},
                       {},
                       [] {
                           run_on_screen([] {
                               PeaksCommand cmd;
                               cmd.files = {"spec.txt"};
                               cmd.settings.cutoff = 1000;
                               cmd.force = true;
                               return run_peaks(cmd);
                           });
                       },
                       " -> ",
                       {}};
    {
        // A reference on another grid, half the spectrum with an offset.
        std::ofstream reference("ref.txt", std::ios::binary);
        reference << "a reference on another grid\r\n";
        for (int i = 1; i <= 30000; ++i) {
            const double f = 1000.005 + 0.0133 * i;
            reference << f << ' ' << (i % 300 == 0 ? 1300 : 300 + (i * 3) % 20) << "\r\n";
        }
    }
    const Writer diff{"diff",
                      {"diff.001"},
                      {},
                      [] {
                          run_on_screen([] {
                              DiffCommand cmd;
                              cmd.a = "spec.txt";
                              cmd.b = "ref.txt";
                              cmd.out = "diff.001";
                              cmd.format = DiffCommand::Format::Pelmo;
                              cmd.force = true;
                              return run_diff(cmd);
                          });
                      },
                      " -> ",
                      {}};
    int cases = 0;
    for (bool named : {false, true}) {
        file_faults::force_named_temporaries(named);
        for (const Writer* w : {&convert, &peaks, &diff}) {
            SCOPED_TRACE(w->name + (named ? ", named temporaries" : ""));
            TestWindow t;
            cases += check_every_fault(dir, *w);
        }
    }
    file_faults::force_named_temporaries(false);
    std::cout << "fault-injection cases run for the batch outputs: " << cases << "\n";
    EXPECT_GT(cases, 60);
    fs::current_path(here);
    fs::remove_all(dir);
}

} // namespace
} // namespace korax

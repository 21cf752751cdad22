// The fault table every file writer is checked against: a failure of each
// file operation in turn (every call the writer makes, reads of a file read
// back included, with ENOSPC, EIO and EACCES, and short writes) must leave the
// old files byte for byte, no temporary, a screen that names the failure and
// never says "written", and a second try that works. Only a failure after the
// files are in place may say "written": a temporary not removed, named on the
// screen, or a folder that could not be synced, said so with its reason.
// Included by the tests of each module with a writer.
#pragma once

#include "base/file_faults.h"
#include "testing/test_window.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace korax::write_faults {

namespace fs = std::filesystem;
using file_faults::Fault;
using file_faults::Op;

inline std::string file_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline std::map<std::string, std::string> folder_contents(const fs::path& dir) {
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
    std::string written;  // on the screen after success only
    std::string old_text; // what each old file holds; empty: "old NAME"
};

// Runs a writer until it waits at its last "Press ENTER"; the screen then
// shows its report.
inline void run_to_report(TestWindow& t, const Writer& w) {
    for (const std::string& k : w.keys)
        t.type(k);
    try {
        w.run();
    } catch (const RunEnded&) {
    }
    t.front_end.keys.clear();
}

// Every fault of the table for one writer whose files live in `dir`; returns
// how many cases ran. The writer's old files are made here and removed after.
inline int check_every_fault(const fs::path& dir, const Writer& w) {
    int cases = 0;
    // The old files, and how often the writer calls each operation.
    for (const std::string& f : w.files)
        std::ofstream(dir / f, std::ios::binary) << (w.old_text.empty() ? "old " + f : w.old_text);
    const auto old = folder_contents(dir);
    file_faults::arm(std::nullopt);
    {
        TestWindow t;
        run_to_report(t, w);
        const bool written = t.screen_contains(w.written);
        EXPECT_TRUE(written) << "the writer failed with nothing injected";
        if (!written) return cases;
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
        if (t.screen_contains(w.written) && t.screen_contains("the folder could not be synced: ")) {
            // The folder's open or sync, after the rename.
            EXPECT_TRUE(fault.op == Op::Open || fault.op == Op::Fsync);
            EXPECT_TRUE(t.screen_contains(std::strerror(fault.error)));
        } else if (t.screen_contains(w.written)) {
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
    return cases;
}

} // namespace korax::write_faults

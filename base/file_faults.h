// A seam for the fault-injection tests: every file operation of SafeFile,
// SafeFileSet and the folder clean-up before them, and every read of a file
// that is read back before it is rewritten, asks it first whether to fail.
// Nothing else in the program uses it; unarmed it costs one count.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace korax::file_faults {

enum class Op { Open, Write, Flush, Fsync, Close, Link, Rename, Unlink, Read };
inline constexpr int OP_COUNT = 9;
const char* op_name(Op op);

struct Fault {
    Op op = Op::Open;
    int occurrence = 1;       // the how-manieth call of `op` fails, counted from 1
    int error = 0;            // errno of the failure
    bool short_write = false; // Write/Flush: half the bytes go out, then `error`
    bool kill = false;        // the process is killed at that call instead (SIGKILL)
};
// Arms one fault (or none), or several, and resets the counts.
void arm(std::optional<Fault> fault);
void arm(std::vector<Fault> faults);
// How often each operation was called since the last arm().
int calls(Op op);
// Test switch: named temporaries even where the file system offers unnamed ones.
void force_named_temporaries(bool on);
// Test switch: how many files of a set are held open before the others are
// closed as soon as they are written (0: the usual number).
void set_open_file_budget(std::size_t files);
// Test switch: as if a new run started now. Each folder is cleared again at
// its next write, of what dead writers left before this moment.
void start_new_run();

} // namespace korax::file_faults

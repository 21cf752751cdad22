// A seam for the fault-injection tests: every file operation of SafeFile and
// SafeFileSet (and the reads of the files they rewrite) asks it first whether
// to fail. Nothing else in the program uses it; unarmed it costs one count.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace korax::file_faults {

enum class Op { Open, Write, Flush, Fsync, Close, Link, Rename, Unlink };
inline constexpr int OP_COUNT = 8;
const char* op_name(Op op);

struct Fault {
    Op op = Op::Open;
    int occurrence = 1;       // the how-manieth call of `op` fails, counted from 1
    int error = 0;            // errno of the failure
    bool short_write = false; // Write/Flush: half the bytes go out, then `error`
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

} // namespace korax::file_faults

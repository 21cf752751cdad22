// Running one batch job per file on several threads: results are printed in the
// order the files were given, whatever the number of threads; a progress bar
// (the files, and the lines of a long one) shows on a terminal only; Ctrl-C lets the files in work
// finish their step and abandon their output, and starts no further file.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace korax {

struct FileOutcome {
    bool ok = true;
    std::string out;        // for standard output
    std::string err;        // for standard error
    bool cut_short = false; // stopped part way, its output whole for the part done
};

// Raised by SIGINT or SIGTERM while run_files runs, or from catch_stop_signals
// on; jobs look at it between steps.
const std::atomic<bool>& stop_requested();
// From the start of a batch command: a Ctrl-C that comes before the first file
// still ends the run with its summary and status 130 instead of killing it.
void catch_stop_signals();

// For the progress bar: the job now in work has examined `done` of the
// `total` lines of its file. Any job's thread may call it; the bar shows the
// latest call, and a file taken up starts without one.
void report_lines(std::size_t done, std::size_t total);

// Exit statuses of the batch commands.
inline constexpr int EXIT_FAILED = 1;        // some file failed
inline constexpr int EXIT_USAGE = 64;        // the command line cannot be carried out
inline constexpr int EXIT_INTERRUPTED = 130; // stopped by Ctrl-C

// Runs job(i, threads) for every file on `jobs` threads (at least 1); `threads`
// is how many threads one job may use itself, so that the machine's cores are
// shared out. Returns 0, EXIT_FAILED or EXIT_INTERRUPTED. `command` names the
// program in messages ("korax peaks").
int run_files(const std::vector<std::string>& files, int jobs, const std::string& command,
              const std::function<FileOutcome(std::size_t, int)>& job);

// The number of processors the process may use.
int processor_count();

} // namespace korax

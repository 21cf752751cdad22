// The batch commands of the korax program (`korax peaks|convert|info|catalog`):
// the same readers and analysis as the interactive program, without a window.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace korax {

// True when the first argument names a batch command.
bool is_batch_command(std::string_view first_argument);

// Runs the command named by args[0] with the arguments after it and returns the
// exit status: 0 success, 1 some file failed, 64 bad command line, 130 stopped
// by Ctrl-C.
int run_batch_command(std::span<const std::string_view> args);

// The lines of the top-level usage that name the batch commands.
std::string batch_usage_lines();

// `korax catalog`: the lines of a catalogue between two frequencies (absent
// bounds are -inf and +inf) as a table on standard output.
int batch_catalog(const std::string& path, double from, double to);
// `korax catalog --lin LIN FILE`: every record of the assignment file against
// the catalogue's prediction of its transition, as a table on standard output.
int batch_catalog_lin(const std::string& lin, const std::string& path);

} // namespace korax

// The program's command line: the interactive program with an optional first
// file and line catalogues, the scripted run, help and version. The batch
// commands (korax peaks ...) are told apart before this parser runs.
#pragma once

#include "window/headless/script_player.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

struct CommandLine {
    enum class Mode { Interactive, Play, Help, Version, Bad } mode = Mode::Interactive;
    PlayOptions play;                  // Mode::Play
    std::string file;                  // Mode::Interactive: the first typed name, or empty
    std::vector<std::string> catalogs; // --catalog, in the order given (interactive and play)
    std::string lin;                   // --lin: the assignment file, or empty
    std::string error;                 // Mode::Bad: what was wrong, in one line
};

// Parses the arguments after the program name. The options of --play may come in
// any order but each only once (--catalog as often as wanted; --lin once, also
// without --play); --help and
// --version stand alone; without --play one FILE may be given.
CommandLine parse_command_line(std::span<const std::string_view> args);

std::string usage_text();   // the short usage for stderr (without the batch commands)
std::string help_text();    // --help
std::string version_text(); // --version: "korax 1.0.0"

} // namespace korax

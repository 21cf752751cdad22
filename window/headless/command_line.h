// The program's command line: the interactive program takes no arguments; the
// scripted run, help and version are the only other forms.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korax {

struct PlayOptions {
    std::string script;                // the key script to play
    std::string shots_dir = ".";       // where `shot` and `screen` write
    std::optional<std::uint64_t> seed; // banner seed instead of the clock
    std::optional<std::string> config; // a configuration file, or "none"
};

struct CommandLine {
    enum class Mode { Interactive, Play, Help, Version, Bad } mode = Mode::Interactive;
    PlayOptions play;  // Mode::Play
    std::string error; // Mode::Bad: what was wrong, in one line
};

// Parses the arguments after the program name. The options of --play may come in
// any order but each only once; --help and --version stand alone.
CommandLine parse_command_line(std::span<const std::string_view> args);

// Exit status of a bad command line.
inline constexpr int EXIT_USAGE = 64;

std::string usage_text();   // the short usage for stderr
std::string help_text();    // --help
std::string version_text(); // --version: "korax 1.0.0"

} // namespace korax

// Parsing of the command line. Kept apart from main() so that every accepted and
// refused form can be tested without starting the program.
#include "driver/command_line.h"

#include <charconv>

#ifndef KORAX_VERSION
#error "KORAX_VERSION must come from the build (the project version)"
#endif

namespace korax {

namespace {

CommandLine bad(std::string message) {
    CommandLine c;
    c.mode = CommandLine::Mode::Bad;
    c.error = std::move(message);
    return c;
}

std::optional<std::uint64_t> parse_seed(std::string_view text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

} // namespace

CommandLine parse_command_line(std::span<const std::string_view> args) {
    CommandLine result;
    if (args.empty()) return result;

    if (args[0] == "--help" || args[0] == "-h" || args[0] == "--version") {
        if (args.size() > 1) return bad(std::string(args[0]) + " takes no further arguments");
        result.mode = args[0] == "--version" ? CommandLine::Mode::Version : CommandLine::Mode::Help;
        return result;
    }

    bool have_play = false, have_shots = false, have_file = false, have_play_option = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view option = args[i];
        const bool known = option == "--play" || option == "--shots" || option == "--seed" ||
                           option == "--config" || option == "--catalog" || option == "--lin";
        if (!known) {
            if (option == "--help" || option == "--version")
                return bad(std::string(option) + " must stand alone");
            // Anything else that is not an option is the spectrum to open; a
            // file whose name starts with "-" is reached as ./-name.
            if (option.empty() || option[0] == '-')
                return bad("unknown option \"" + std::string(option) + "\"");
            if (have_file) return bad("only one FILE can be opened at the start");
            have_file = true;
            result.file = std::string(option);
            continue;
        }
        if (i + 1 >= args.size()) return bad(std::string(option) + " needs a value");
        const std::string_view value = args[++i];
        if (value.empty()) return bad(std::string(option) + " needs a value");

        if (option == "--catalog") {
            result.catalogs.emplace_back(value);
        } else if (option == "--lin") {
            if (!result.lin.empty()) return bad("--lin given twice");
            result.lin = std::string(value);
        } else if (option == "--play") {
            if (have_play) return bad("--play given twice");
            have_play = true;
            result.play.script = std::string(value);
        } else if (option == "--shots") {
            have_play_option = true;
            if (have_shots) return bad("--shots given twice");
            have_shots = true;
            result.play.shots_dir = std::string(value);
        } else if (option == "--seed") {
            have_play_option = true;
            if (result.play.seed) return bad("--seed given twice");
            result.play.seed = parse_seed(value);
            if (!result.play.seed)
                return bad("--seed needs a whole number from 0 to 18446744073709551615");
        } else {
            have_play_option = true;
            if (result.play.config) return bad("--config given twice");
            result.play.config = std::string(value);
        }
    }
    if (!have_play) {
        if (have_play_option) return bad("--shots, --seed and --config belong to --play SCRIPT");
        return result; // interactive, with a file and catalogues as given
    }
    if (have_file) return bad("--play takes the spectrum from its script, not as FILE");
    result.mode = CommandLine::Mode::Play;
    return result;
}

std::string usage_text() {
    return "usage: korax [--catalog FILE]... [--lin FILE] [FILE]\n"
           "       korax --play SCRIPT [--shots DIR] [--seed N] [--config PATH|none]\n"
           "                           [--catalog FILE]... [--lin FILE]\n"
           "       korax --help | --version\n";
}

std::string help_text() {
    return "KORAX " KORAX_VERSION " - viewer and analyser of laboratory spectra\n"
           "\n" +
           usage_text() +
           "\n"
           "Without arguments KORAX opens its window and asks for a spectrum file;\n"
           "with FILE it opens that file as if its name had been typed at that prompt.\n"
           "\n"
           "  --catalog FILE   open a line catalogue with the first spectrum shown\n"
           "                   (repeatable; also an option of --play)\n"
           "  --lin FILE       the assignment file of T, its lines marked from the start\n"
           "                   (an existing one is added to after a yes at the first T;\n"
           "                   also an option of --play)\n"
           "  --play SCRIPT    run the program off-screen on the keys of a key script\n"
           "  --shots DIR      folder for the pictures and text dumps of the script\n"
           "                   (default: the current folder; created when missing)\n"
           "  --seed N         seed the random title banner, so that pictures repeat\n"
           "  --config PATH    read this configuration file instead of the standard one;\n"
           "                   \"none\" runs as if there were no configuration file\n"
           "  --help           show this text\n"
           "  --version        show the version\n"
           "\n"
           "Exit status of --play: 0 normal exit, 1 fatal end, 2 the script ran out,\n"
           "3 an expect line failed, 4 script error, 64 bad command line.\n"
           "\n"
           "Batch commands (no window; each has --help):\n"
           "  korax peaks [options] FILE...   PEAKFINDER over many spectra, one results\n"
           "                                  file each, optionally one table (--tsv)\n"
           "  korax convert [--force] IN OUT  PELMO to two-column text and back\n"
           "  korax diff A B -o OUT           the difference A - k x B of two spectra\n"
           "  korax info [--json] FILE...     recording parameters of spectra\n"
           "  korax catalog FILE [--from F] [--to F]\n"
           "                                  the lines of a line catalogue as a table\n"
           "  korax catalog --lin LIN FILE    an assignment file against new predictions\n"
           "  korax assign SPECTRUM --catalog CAT --lin FILE (--series QN | --all)\n"
           "                                  fits at the predictions of a series, or of\n"
           "                                  all, reviewed; --write adds them to FILE\n"
           "Exit status of the batch commands: 0 success, 1 a file failed, 64 bad\n"
           "command line, 130 stopped by Ctrl-C.\n";
}

std::string version_text() {
    return "korax " KORAX_VERSION;
}

} // namespace korax

// The process entry: reads the command line, puts a window on the chosen front-end
// (the Qt window, or the off-screen key-script player of `--play`) and runs the
// main program on it until it ends. The batch commands are dispatched first,
// before anything of a window exists, so that they run without a display.
#include "batch/batch.h"
#include "catalog/catalog_state.h"
#include "driver/command_line.h"
#include "driver/file_choice.h"
#include "driver/main_korax.h"
#include "driver/startg.h"
#include "spectrum/store.h"
#include "window/headless/script_player.h"
#include "window/sgame.h"
#ifdef KORAX_HAVE_QT
#include "window/qt/run_interactive.h"
#endif

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string_view>
#include <vector>

namespace {

// What the command line names for the viewer; set before the program runs.
korax::SessionStart g_start;

void run_main_program() {
    // The store's arrays are sized here, at start-up, rather than at the first load.
    korax::store();
    korax::MAIN_KORAX(g_start);
}

korax::ConfigSource config_source(const std::optional<std::string>& config) {
    korax::ConfigSource source;
    if (!config) return source;
    if (*config == "none") {
        source.kind = korax::ConfigSource::Kind::None;
    } else {
        source.kind = korax::ConfigSource::Kind::File;
        source.path = *config;
    }
    return source;
}

// The settings file of this run. A scripted run without a configuration file
// is a test or a demonstration: it keeps settings only where XDG_STATE_HOME
// sends them, never in the operator's own file.
std::string state_file_of_run(const korax::CommandLine& c) {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    if (c.mode == korax::CommandLine::Mode::Play && c.play.config == "none")
        return xdg && xdg[0] == '/' ? korax::state_file_path(xdg, nullptr) : std::string();
    return korax::state_file_path(xdg, std::getenv("HOME"));
}

} // namespace

int main(int argc, char** argv) {
    using korax::CommandLine;
    // A file size limit (ulimit -f) would otherwise kill the run at the write
    // that crosses it; ignored, that write fails with EFBIG ("File too large")
    // and is reported like a full disk, with the old file kept.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (!args.empty() && korax::is_batch_command(args[0])) return korax::run_batch_command(args);
    const CommandLine command_line = korax::parse_command_line(args);
    g_start.catalogs = command_line.catalogs;
    g_start.lin = command_line.lin;
    g_start.state_file = state_file_of_run(command_line);

    switch (command_line.mode) {
    case CommandLine::Mode::Help:
        std::cout << korax::help_text();
        return 0;
    case CommandLine::Mode::Version:
        std::cout << korax::version_text() << "\n";
        return 0;
    case CommandLine::Mode::Bad:
        std::cerr << "korax: " << command_line.error << "\n"
                  << korax::usage_text() << korax::batch_usage_lines();
        return korax::EXIT_USAGE;
    case CommandLine::Mode::Play:
        korax::set_config_source(config_source(command_line.play.config));
        korax::set_banner_seed(command_line.play.seed);
        return korax::run_play(command_line.play, run_main_program, std::cerr);
    case CommandLine::Mode::Interactive:
        if (!command_line.file.empty()) korax::set_first_answer(command_line.file);
        break;
    }
#ifdef KORAX_HAVE_QT
    return korax::run_interactive(argc, argv, run_main_program);
#else
    std::cerr << "korax: this build has no on-screen window; only --play SCRIPT can run\n"
              << korax::usage_text() << korax::batch_usage_lines();
    return korax::EXIT_USAGE;
#endif
}

// `korax --play`: reads and checks the whole key script, then runs the program on
// an off-screen window driven by it and turns the way the run ended into the
// exit status.
#include "window/headless/script_player.h"

#include "window/window.h"

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

namespace korax {

int run_play(const PlayOptions& options, const std::function<void()>& program, std::ostream& err) {
    std::error_code ec;
    std::ifstream file(options.script, std::ios::binary);
    if (!std::filesystem::is_regular_file(options.script, ec) || !file.is_open()) {
        err << "korax: cannot read the key script " << options.script << "\n";
        return EXIT_USAGE;
    }
    std::stringstream text;
    text << file.rdbuf();
    ParsedScript script = parse_script(text.str());
    if (script.error) {
        err << options.script << ":" << script.error->line << ": " << script.error->message << "\n";
        return PLAY_SCRIPT_ERROR;
    }

    ScriptPlayer player(options.script, std::move(script.lines), options.shots_dir, err);
    Window window(player);
    player.attach(window);
    InstalledWindow installed(window);

    // A program routine that simply returns (only tests do) ends like the normal exit.
    int end_status = 0;
    try {
        program();
    } catch (const RunEnded& end) {
        end_status = end.status;
    }
    if (auto status = player.stopped()) return *status;
    return player.finish(end_status);
}

} // namespace korax

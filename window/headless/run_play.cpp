// `korax --play`: reads and checks the whole key script, then runs the program on
// an off-screen window driven by it and turns the way the run ended into the
// exit status.
#include "window/headless/script_player.h"

#include "base/input_file.h"
#include "window/window.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace korax {

int run_play(const PlayOptions& options, const std::function<void()>& program, std::ostream& err) {
    // Opened without waiting: a FIFO or a device is refused like a missing file.
    std::string why;
    const FilePtr file = open_input_file(options.script, &why);
    std::string text;
    if (file) {
        char block[1 << 14];
        std::size_t n = 0;
        while ((n = std::fread(block, 1, sizeof block, file.get())) > 0)
            text.append(block, n);
        if (std::ferror(file.get())) why = std::strerror(errno);
    }
    if (!file || std::ferror(file.get())) {
        err << "korax: cannot read the key script " << options.script << ": " << why << "\n";
        return EXIT_USAGE;
    }
    ParsedScript script = parse_script(text);
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

// The off-screen front-end behind `korax --play`: keys and file-box answers come
// from a key script, and the script's shot, screen and expect lines look at the
// window exactly when a person would, at the next request for input.
#pragma once

#include "window/frontend.h"
#include "window/headless/script.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace korax {

class Window;

// The options of `korax --play`, as the program's command line gives them.
struct PlayOptions {
    std::string script;                // the key script to play
    std::string shots_dir = ".";       // where `shot` and `screen` write
    std::optional<std::uint64_t> seed; // banner seed instead of the clock
    std::optional<std::string> config; // a configuration file, or "none"
};

// Exit status of a bad command line, or of a script that cannot be read.
inline constexpr int EXIT_USAGE = 64;

// Exit statuses the player itself decides; 0 and 1 come from the program's end.
inline constexpr int PLAY_RAN_OUT = 2;
inline constexpr int PLAY_EXPECT_FAILED = 3;
inline constexpr int PLAY_SCRIPT_ERROR = 4;

class ScriptPlayer : public FrontEnd {
  public:
    // `script_name` only labels messages; `err` receives them.
    ScriptPlayer(std::string script_name, std::vector<ScriptLine> lines, std::string shots_dir,
                 std::ostream& err);

    // The window whose canvas and text grid the inspection lines look at.
    void attach(const Window& window) { m_window = &window; }

    // Both throw RunEnded with status 2, 3 or 4 when the player stops the run.
    // A `close` line throws CloseRequested, as the on-screen window does.
    int wait_key() override;
    std::optional<std::string> open_file_box(const std::vector<FileFilter>& filters) override;
    CanvasPoint click_position() const override { return m_click; }
    std::optional<CanvasPoint> wheel_position() const override { return m_wheel; }
    std::string dropped_path() const override { return m_drop; }
    void show(const Canvas&, const Rect&) override {}
    void resized(int, int) override {}
    void close() override {}
    void hold() override {}

    // The program ended with `end_status`: the inspection lines up to the next
    // input line still act on the window as it was left. Returns the run's status.
    int finish(int end_status);
    // The status with which the player stopped the run itself, if it did.
    std::optional<int> stopped() const { return m_stopped; }

  private:
    enum class Wanted { Key, Box };
    // Runs inspection lines up to the next input line and consumes it; stops the
    // run when the script has run out, an inspection fails or the line is of the
    // wrong kind.
    const ScriptLine& next_input(Wanted wanted);
    // Runs inspection lines from the current line; returns 0 or the failing status.
    int inspect_until_input();
    int inspect(const ScriptLine& line);
    [[noreturn]] void stop(int status);
    std::string where(const ScriptLine& line) const;

    std::string m_script_name;
    std::vector<ScriptLine> m_lines;
    std::string m_shots_dir;
    std::ostream& m_err;
    const Window* m_window = nullptr;

    std::size_t m_next = 0;     // next script line to act on
    std::vector<int> m_pending; // keys of the input line being consumed
    std::size_t m_pending_at = 0;
    int m_pending_line = 0;
    std::optional<int> m_stopped;
    CanvasPoint m_click;
    std::optional<CanvasPoint> m_wheel;
    std::string m_drop;
};

// Plays the script of `options` against `program` (the program's main routine)
// on an off-screen window installed as window() for the run. Returns the exit
// status of the run; a script that cannot be read gives EXIT_USAGE, one with a
// bad line PLAY_SCRIPT_ERROR, both before the program starts.
int run_play(const PlayOptions& options, const std::function<void()>& program, std::ostream& err);

} // namespace korax

// The key-script player. Input lines are handed out one key at a time; the
// inspection lines between them run when the program next waits, so that a shot
// shows the screen the operator would be looking at.
#include "window/headless/script_player.h"

#include "window/headless/dump_files.h"
#include "window/window.h"

#include <cassert>
#include <filesystem>
#include <iomanip>
#include <ostream>

namespace korax {

ScriptPlayer::ScriptPlayer(std::string script_name, std::vector<ScriptLine> lines,
                           std::string shots_dir, std::ostream& err)
    : m_script_name(std::move(script_name)), m_lines(std::move(lines)),
      m_shots_dir(std::move(shots_dir)), m_err(err) {}

std::string ScriptPlayer::where(const ScriptLine& line) const {
    return m_script_name + ":" + std::to_string(line.number) + ": ";
}

void ScriptPlayer::stop(int status) {
    m_stopped = status;
    throw RunEnded{status};
}

int ScriptPlayer::wait_key() {
    if (m_stopped) throw RunEnded{*m_stopped};
    while (m_pending_at >= m_pending.size()) {
        const ScriptLine& line = next_input(Wanted::Key);
        m_pending_at = 0;
        m_pending_line = line.number;
        switch (line.command) {
        case ScriptCommand::Close:
            m_pending.clear();
            throw CloseRequested{};
        case ScriptCommand::Click:
            // As on screen, a click beside the picture reaches nobody.
            m_pending.clear();
            if (line.x < m_window->width() && line.y < m_window->height()) {
                m_click = CanvasPoint{line.x, line.y};
                m_pending = {0, KEY_CLICK};
            }
            break;
        case ScriptCommand::Wheel:
            // As a click, a notch beside the picture reaches nobody.
            m_pending.clear();
            m_wheel.reset();
            if (!line.at) {
                m_pending = line.keys;
            } else if (line.x < m_window->width() && line.y < m_window->height()) {
                m_wheel = CanvasPoint{line.x, line.y};
                m_pending = line.keys;
            }
            break;
        case ScriptCommand::Drop:
            m_drop = line.argument;
            m_pending = {0, KEY_DROP};
            break;
        default:
            m_pending = line.keys;
            break;
        }
    }
    return m_pending[m_pending_at++];
}

std::optional<std::string> ScriptPlayer::open_file_box(const std::vector<FileFilter>&) {
    if (m_stopped) throw RunEnded{*m_stopped};
    if (m_pending_at < m_pending.size()) {
        m_err
            << m_script_name << ":" << m_pending_line
            << ": the program opened the file-open box before it had read all keys of this line\n";
        stop(PLAY_SCRIPT_ERROR);
    }
    const ScriptLine& line = next_input(Wanted::Box);
    if (line.command == ScriptCommand::BoxCancel) return std::nullopt;
    if (line.command == ScriptCommand::Close) throw CloseRequested{};
    return line.argument;
}

const ScriptLine& ScriptPlayer::next_input(Wanted wanted) {
    if (int status = inspect_until_input(); status != 0) stop(status);
    if (m_next >= m_lines.size()) {
        m_err << m_script_name << ": the script ran out while the program was waiting for "
              << (wanted == Wanted::Key ? "a key" : "a file-open box answer") << "\n";
        stop(PLAY_RAN_OUT);
    }
    const ScriptLine& line = m_lines[m_next];
    const bool is_box =
        line.command == ScriptCommand::Box || line.command == ScriptCommand::BoxCancel;
    // Closing the main window is possible whatever the program waits for.
    const bool is_close = line.command == ScriptCommand::Close;
    if (wanted == Wanted::Key && is_box) {
        m_err << where(line)
              << "the program asked for a key, but this line answers a file-open box\n";
        stop(PLAY_SCRIPT_ERROR);
    }
    if (wanted == Wanted::Box && !is_box && !is_close) {
        m_err << where(line)
              << "the program opened the file-open box, but this line is meant for the window\n";
        stop(PLAY_SCRIPT_ERROR);
    }
    ++m_next;
    return line;
}

int ScriptPlayer::inspect_until_input() {
    while (m_next < m_lines.size() && !m_lines[m_next].is_input()) {
        const ScriptLine& line = m_lines[m_next++];
        if (int status = inspect(line); status != 0) return status;
    }
    return 0;
}

int ScriptPlayer::finish(int end_status) {
    if (m_stopped) return *m_stopped;
    // Keys left over from the last input line were never asked for; they belong to
    // a line already begun and do not count as the first input after the end.
    m_pending.clear();
    m_pending_at = 0;
    if (int status = inspect_until_input(); status != 0) {
        m_stopped = status;
        return status;
    }
    return end_status;
}

int ScriptPlayer::inspect(const ScriptLine& line) {
    assert(m_window && "attach() the window before the run starts");
    const TextGrid& grid = m_window->text_grid();

    if (line.command == ScriptCommand::Expect) {
        // Whole 80-cell rows, so an expected text may end in the blanks of a row.
        if (grid.contains(line.argument)) return 0;
        m_err << where(line) << "expected text is not on the screen: \"" << line.argument
              << "\"\ntext grid (" << grid.rows() << " rows):\n";
        for (int row = 1; row <= grid.rows(); ++row)
            m_err << std::setw(3) << row << " |" << grid.row_text(row) << "\n";
        return PLAY_EXPECT_FAILED;
    }

    const bool picture = line.command == ScriptCommand::Shot;
    const std::filesystem::path path = std::filesystem::path(m_shots_dir) /
                                       with_extension(line.argument, picture ? ".png" : ".txt");
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    std::string error;
    const bool written = picture ? write_canvas_png(m_window->canvas(), path.string(), error)
                                 : write_text_file(path.string(), text_grid_dump(grid), error);
    if (written) return 0;
    m_err << where(line) << error << "\n";
    return PLAY_SCRIPT_ERROR;
}

} // namespace korax

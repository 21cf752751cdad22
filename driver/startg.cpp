// STARTG: the window's size and text font from the configuration file. The file
// is read once per run; what went wrong with it is kept for the notice on the
// title screen.
#include "driver/startg.h"

#include "base/format.h"
#include "base/input_file.h"
#include "driver/config_file.h"
#include "spectrum/store.h"
#include "window/inkey.h"
#include "window/window.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace korax {

namespace {

ConfigSource g_source;
std::optional<ConfigProblem> g_problem;

// Far more than any configuration needs (a few hundred bytes); a larger file
// is not one, and reading on would let /dev/urandom or a huge file hold up the start.
constexpr std::size_t MAX_CONFIG_BYTES = 64 * 1024;

// What was read of the configuration file: not found, its lines, or a file that
// cannot be one.
struct ConfigText {
    bool found = false;
    std::vector<std::string> lines;
    std::optional<ConfigProblem> problem;
};

// The lines of the configuration file without their line ends (a file written on
// another system may end its lines with CR LF). A FIFO, device or folder, or a
// file over MAX_CONFIG_BYTES, is found but gives a problem for the notice: the
// window is the default one.
ConfigText read_config_text() {
    ConfigText result;
    if (g_source.kind == ConfigSource::Kind::None) return result;
    const std::string path =
        g_source.kind == ConfigSource::Kind::File ? g_source.path : standard_config_path();
    if (path.empty()) return result;
    std::string why;
    const FilePtr file = open_input_file(path, &why);
    if (!file) {
        if (why == NOT_REGULAR) {
            result.found = true;
            result.problem = ConfigProblem{0, std::string("is ") + NOT_REGULAR};
        }
        return result;
    }
    result.found = true;
    std::string text(MAX_CONFIG_BYTES + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    if (text.size() > MAX_CONFIG_BYTES) {
        result.problem = ConfigProblem{0, "is larger than 64 KiB"};
        return result;
    }
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        result.lines.push_back(std::move(line));
        at = end + 1;
    }
    return result;
}

void record_geometry() {
    const Window& w = window();
    store().SCREEN = screen_geometry(w.width(), w.height(), w.rows());
}

void apply(const WindowConfig& config) {
    Window& w = window();
    w.set_geometry(config.width, config.height, config.rows);
    w.set_text_font(config.font, config.attributes);
    record_geometry();
}

[[noreturn]] void illegal_attribute_end(int number) {
    Window& w = window();
    w.write_line("");
    w.write_line("");
    w.write_line(" Extended font attribute from KORAX.CFG is" + fmt_int(number, 5) +
                 ", which is illegal (1-15 allowed)");
    w.write_line("");
    w.write_line(" **** TRY AGAIN! *****");
    w.write_line("");
    w.write_line("");
    wait_for_enter();
    w.fatal_end();
}

} // namespace

void set_config_source(ConfigSource source) {
    g_source = std::move(source);
}

std::string standard_config_path() {
    // Relative values of XDG_CONFIG_HOME are to be ignored, as if it were unset.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/korax/korax.cfg";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h)
        home = h;
    else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        home = pw->pw_dir;
    return home + "/.config/korax/korax.cfg";
}

std::string config_path_for_messages() {
    return g_source.kind == ConfigSource::Kind::File ? g_source.path : standard_config_path();
}

void STARTG(std::int32_t& found) {
    found = 0;
    g_problem.reset();
    ConfigResult result;
    const ConfigText text = read_config_text();
    if (text.problem)
        result.problem = text.problem;
    else if (text.found)
        result = parse_config(text.lines);
    found = text.found ? 1 : 0;
    if (result.illegal_attribute) {
        // The message needs a window to stand in; it gets the default one.
        apply(WindowConfig{});
        illegal_attribute_end(*result.illegal_attribute);
    }
    g_problem = result.problem;
    apply(result.config);
}

bool draw_config_notice(std::int32_t found) {
    if (found != 0 && !g_problem) return false;
    Window& w = window();
    const ScreenGeometry& screen = store().SCREEN;
    const std::string path = config_path_for_messages();
    w.set_plot_area(0, 0, screen.MAXX, screen.MAXY);
    w.set_color(12);
    w.select_font("t'Arial'h18w9e");
    w.move_to_px(100, 200);
    w.draw_text(found == 0 ? "Configuration file " + path + " was not found:"
                           : "Configuration file " + path + " " + g_problem->problem + ":");
    w.select_font("t'Arial'h18w9i");
    w.move_to_px(250, 220);
    w.draw_text("default sized window of 800x540 pixels will be used");
    w.set_text_position(15, 1);
    return true;
}

} // namespace korax

// The configuration file's parser on arbitrary text, split into lines as the
// set-up reads the file (LF, with a CR before it dropped). Whatever it accepts
// must give a window the geometry and the height toggle can work with.
#include "driver/config_file.h"
#include "fuzz/fuzz_common.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korax;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string line(text.substr(0, eol));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    }

    const ConfigResult r = parse_config(lines);
    if (r.illegal_attribute) {
        const int n = *r.illegal_attribute;
        fuzz::require(n < 1 || n > 15, "a legal attribute reported as illegal");
        return 0;
    }
    const WindowConfig& c = r.config;
    fuzz::require(c.width >= 80 && c.width <= 16384, "a window width outside its range");
    fuzz::require(c.height >= 30 && c.height <= 16384, "a window height outside its range");
    fuzz::require(c.rows == START_ROWS, "a start-up window that is not 30 rows");
    fuzz::require(!c.font.empty(), "an empty typeface name");
    if (r.problem) {
        fuzz::require(c.width == DEFAULT_WIDTH && c.height == DEFAULT_HEIGHT &&
                          c.font == DEFAULT_TEXT_FONT && c.attributes == 0,
                      "a configuration with a problem that is not the default window");
    }

    // Toggling twice: 17 rows must keep a whole pixel row height, and the
    // window must come back to 30 rows no taller than it started.
    const ScreenGeometry start = screen_geometry(c.width, c.height, c.rows);
    fuzz::require(start.MAXX == c.width - 1 && start.MAXY == c.height - 1,
                  "the geometry does not hold the window size");
    fuzz::require(start.ROWPIX >= 1, "a text row of no pixels");
    const WindowSize short_window = toggled_size(start);
    fuzz::require(short_window.rows == SHORT_ROWS && short_window.height >= SHORT_ROWS &&
                      short_window.width == c.width,
                  "the short window lost its rows or width");
    const WindowSize back =
        toggled_size(screen_geometry(short_window.width, short_window.height, short_window.rows));
    fuzz::require(back.rows == START_ROWS && back.height <= c.height && back.height > 0,
                  "the toggle back does not restore 30 rows within the start height");
    return 0;
}

// A window for unit tests: keys and file-box answers come from queues filled by
// the test, nothing is shown. Installs itself as window() for its lifetime.
#pragma once

#include "base/utf8.h"
#include "window/frontend.h"
#include "window/window.h"

#include <deque>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

class TestFrontEnd : public FrontEnd {
  public:
    std::deque<int> keys;
    std::deque<std::optional<std::string>> boxes;
    int shows = 0;
    Canvas shown; // the canvas as last shown with a change
    bool closed = false, held = false;
    // The picture of the last show(), kept only when asked for.
    bool keep_pictures = false;
    std::vector<std::uint8_t> picture;
    // The last text cursor announced, and whether it is still up.
    Rect cursor_bar{};
    bool cursor_up = false;

    // Queued instead of a key, these make the key read fail as a command
    // could fail at that point.
    static constexpr int FAIL_NO_MEMORY = -1000;
    static constexpr int FAIL_ERROR = -1001;

    // Queued among the keys: the operator closes the window.
    static constexpr int close_request = -1;

    // Ends the run like a script that ran out when the test supplied too few keys.
    int wait_key() override {
        if (keys.empty()) throw RunEnded{2};
        int k = keys.front();
        keys.pop_front();
        if (k == FAIL_NO_MEMORY) throw std::bad_alloc();
        if (k == FAIL_ERROR) throw std::runtime_error("disk on fire");
        if (k == close_request) throw CloseRequested{};
        return k;
    }
    std::optional<std::string> open_file_box(const std::vector<FileFilter>&) override {
        if (boxes.empty()) throw RunEnded{2};
        auto b = boxes.front();
        boxes.pop_front();
        return b;
    }
    void show(const Canvas& canvas, const Rect& changed) override {
        ++shows;
        if (keep_pictures) picture = canvas.pixels();
        if (!changed.empty()) shown = canvas;
    }
    void text_cursor(const Rect& bar, std::uint8_t) override {
        cursor_up = !bar.empty();
        if (cursor_up) cursor_bar = bar;
    }
    void resized(int, int) override {}
    void close() override { closed = true; }
    void hold() override { held = true; }
};

class TestWindow {
  public:
    explicit TestWindow(int width = 800, int height = 540, int rows = 30) : m_window(front_end) {
        m_window.set_geometry(width, height, rows);
        set_window(&m_window);
    }
    ~TestWindow() { set_window(nullptr); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    // Queues the keys of the UTF-8 `text` (and ENTER unless told otherwise).
    void type(std::string_view text, bool enter = true) {
        for (std::size_t i = 0; i < text.size();)
            front_end.keys.push_back(text_key(next_character(text, i)));
        if (enter) front_end.keys.push_back(13);
    }
    void keys(std::string_view text) { type(text, false); }
    void extended(int code) {
        front_end.keys.push_back(0);
        front_end.keys.push_back(code);
    }
    bool screen_contains(std::string_view text) const {
        return m_window.text_grid().contains(text);
    }
    std::string row(int r) const { return m_window.text_grid().row_text(r); }
    Window& window() { return m_window; }

    TestFrontEnd front_end;

  private:
    Window m_window;
};

} // namespace korax

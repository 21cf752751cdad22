// A window for unit tests: keys and file-box answers come from queues filled by
// the test, nothing is shown. Installs itself as window() for its lifetime.
#pragma once

#include "window/frontend.h"
#include "window/window.h"

#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace korax {

class TestFrontEnd : public FrontEnd {
public:
    std::deque<int> keys;
    std::deque<std::optional<std::string>> boxes;
    int shows = 0;
    Canvas shown; // the canvas as last shown with a change
    bool closed = false, held = false;

    // Queued among the keys: the operator closes the window.
    static constexpr int close_request = -1;

    // Ends the run like a script that ran out when the test supplied too few keys.
    int wait_key() override {
        if (keys.empty()) throw RunEnded{2};
        int k = keys.front();
        keys.pop_front();
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
        if (!changed.empty()) shown = canvas;
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

    // Queues the characters of `text` (and ENTER unless told otherwise).
    void type(std::string_view text, bool enter = true) {
        for (unsigned char c : text) front_end.keys.push_back(c);
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

// The on-screen front-end: a window without menus that shows the canvas at the
// largest whole-number scale its size allows, queues the keys, clicks, wheel
// notches and file drops of the operator and offers the platform's file-open box.
// Needs a QApplication for its whole life.
#pragma once

#include "window/frontend.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QKeyEvent;
class QString;
class QWidget;

namespace korax {

class CanvasWidget;

class QtFrontEnd : public FrontEnd {
  public:
    QtFrontEnd();
    ~QtFrontEnd() override;
    QtFrontEnd(const QtFrontEnd&) = delete;
    QtFrontEnd& operator=(const QtFrontEnd&) = delete;

    // Runs the event loop until a key or event is queued; throws CloseRequested
    // when the next thing the operator did was to close the window.
    int wait_key() override;
    std::optional<std::string> open_file_box(const std::vector<FileFilter>& filters) override;
    CanvasPoint click_position() const override { return m_click; }
    std::optional<CanvasPoint> wheel_position() const override { return m_wheel_at; }
    std::string dropped_path() const override { return m_drop; }
    void set_title(std::string_view title) override;
    void copy_to_clipboard(std::string_view text) override;
    void show(const Canvas& canvas, const Rect& changed) override;
    void resized(int width, int height) override;
    void text_cursor(const Rect& bar, std::uint8_t mask) override;
    // One step of the cursor's blinking (a timer calls it every half period).
    void blink_text_cursor();
    void close() override;
    void hold() override;

    QWidget* widget();
    bool closed() const { return m_closed; }

  private:
    friend class CanvasWidget;
    void key_pressed(const QKeyEvent& event);
    void clicked(CanvasPoint where);
    // `where`: the pointer's canvas pixel; nullopt beside the picture.
    void wheel(int code, std::optional<CanvasPoint> where);
    void dropped(std::string path);
    void clear_queue();
    // The window manager's close or Ctrl+Q. True when the widget may close now
    // (the program has stopped); otherwise the close waits in the queue.
    bool close_requested();

    std::unique_ptr<CanvasWidget> m_widget;
    // Codes in the order the operator gave them; a close is queued as
    // close_code so that keys typed before it are still read first.
    static constexpr int close_code = -1;
    std::deque<int> m_keys;
    std::deque<CanvasPoint> m_clicks; // one for each KEY_CLICK waiting in m_keys
    std::deque<std::string> m_drops;  // one for each KEY_DROP waiting in m_keys
    bool m_after_zero = false;        // the last code handed out was the 0 of a pair
    // One for each wheel notch waiting in m_keys.
    std::deque<std::optional<CanvasPoint>> m_wheel_points;
    bool m_sized = false;
    int m_wheels_waiting = 0;
    bool m_closed = false;   // the window is gone for good
    bool m_holding = false;  // a fatal end: a close now really closes
    bool m_box_open = false; // a close now ends the file-open box and the run
    bool m_box_closed = false;
    CanvasPoint m_click;
    std::optional<CanvasPoint> m_wheel_at;
    std::string m_drop;
};

// The codes one key press delivers to the program: the characters it types
// (text_key of each), or for a key without a character the pair 0 and its
// keyboard code (HOME 0, 71). Empty for keys the program does not know (Shift
// alone, F11).
std::vector<int> key_codes(int qt_key, const QString& text);

// The pattern of a filter entry as the file-open box must match it here: "*.*"
// means every file, names without a dot included, so it becomes "*"; "abc*.*"
// becomes "abc*" and "abc.*" also matches "abc" itself.
std::string box_pattern(std::string_view pattern);

// Text for Qt: valid UTF-8 as such, anything else as Latin-1 (typed names).
QString text_of(std::string_view text);

// The filter entries in the box's own form: "description (pattern);;...".
QString box_name_filters(const std::vector<FileFilter>& filters);

} // namespace korax

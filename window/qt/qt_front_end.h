// The on-screen front-end: a fixed-size window without menus that shows the canvas
// pixel for pixel, queues the keys the operator presses and offers the platform's
// file-open box. Needs a QApplication for its whole life.
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

    // Runs the event loop until a key is queued; throws RunEnded{0} once the
    // operator has closed the window.
    int wait_key() override;
    std::optional<std::string> open_file_box(const std::vector<FileFilter>& filters) override;
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
    void close_requested() { m_closed = true; }

    std::unique_ptr<CanvasWidget> m_widget;
    std::deque<int> m_keys;
    bool m_closed = false;
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

// The filter entries in the box's own form: "description (pattern);;...".
QString box_name_filters(const std::vector<FileFilter>& filters);

} // namespace korax

// The Qt window under the offscreen platform: synthetic key events must come out
// of wait_key as the program's codes, and the widget must show the canvas.
#include "window/qt/qt_front_end.h"
#include "window/window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>

namespace korax {
namespace {

void press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers, const QString& text,
           bool repeat = false) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers, text, repeat);
    QApplication::sendEvent(widget, &event);
}

QRgb rgb_of(int index) {
    const Rgb c = palette()[static_cast<std::size_t>(index)];
    return qRgb(c.r, c.g, c.b);
}

TEST(QtSmoke, KeyEventsBecomeProgramCodes) {
    QtFrontEnd front_end;
    front_end.resized(160, 100);
    QWidget* w = front_end.widget();
    press(w, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
    press(w, Qt::Key_Home, Qt::NoModifier, QString());
    press(w, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    press(w, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
    press(w, Qt::Key_Shift, Qt::ShiftModifier, QString());
    press(w, Qt::Key_F3, Qt::NoModifier, QString());
    // The unshifted 0 key of an AZERTY keyboard: a character, never the 224
    // that begins a two-code key.
    press(w, Qt::Key_Agrave, Qt::NoModifier, QStringLiteral("\u00e0"));

    std::vector<int> got;
    for (int i = 0; i < 8; ++i)
        got.push_back(front_end.wait_key());
    EXPECT_EQ((std::vector<int>{'A', 0, 71, 13, 9, 0, 61, text_key(0xE0)}), got);

    // A held key: its repeats count only while the program keeps up.
    press(w, Qt::Key_Right, Qt::NoModifier, QString());
    press(w, Qt::Key_Right, Qt::NoModifier, QString(), true);
    press(w, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    press(w, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"), true);
    got.clear();
    for (int i = 0; i < 3; ++i)
        got.push_back(front_end.wait_key());
    press(w, Qt::Key_Right, Qt::NoModifier, QString(), true);
    press(w, Qt::Key_X, Qt::NoModifier, QStringLiteral("y"));
    for (int i = 0; i < 3; ++i)
        got.push_back(front_end.wait_key());
    EXPECT_EQ((std::vector<int>{0, 77, 'x', 0, 77, 'y'}), got);
}

TEST(QtSmoke, WidgetShowsTheNewestCanvas) {
    QtFrontEnd front_end;
    front_end.resized(160, 100);
    QWidget* w = front_end.widget();
    EXPECT_EQ(QSize(160, 100), w->size());
    EXPECT_EQ(QSize(160, 100), w->minimumSize());

    Canvas canvas(160, 100);
    canvas.fill(1);
    canvas.fill_rect(Rect{10, 20, 29, 39}, 12);
    front_end.show(canvas, Rect{0, 0, 159, 99});
    QImage image = w->grab().toImage();
    EXPECT_EQ(rgb_of(1), image.pixel(0, 0) | 0xFF000000u);
    EXPECT_EQ(rgb_of(12), image.pixel(10, 20) | 0xFF000000u);
    EXPECT_EQ(rgb_of(12), image.pixel(29, 39) | 0xFF000000u);
    EXPECT_EQ(rgb_of(1), image.pixel(30, 40) | 0xFF000000u);

    // Changes announced one after another: the picture is the latest one.
    canvas.fill_rect(Rect{100, 50, 100, 50}, 14);
    front_end.show(canvas, Rect{100, 50, 100, 50});
    canvas.fill_rect(Rect{100, 50, 100, 50}, 2);
    front_end.show(canvas, Rect{100, 50, 100, 50});
    image = w->grab().toImage();
    EXPECT_EQ(rgb_of(2), image.pixel(100, 50) | 0xFF000000u);

    // Resized by the operator: the largest whole scale that fits (2 in 350 x 230),
    // centred with black bands, each canvas pixel a sharp 2 x 2 square.
    w->resize(350, 230);
    canvas.fill_rect(Rect{0, 0, 0, 0}, 14);
    front_end.show(canvas, Rect{0, 0, 0, 0});
    image = w->grab().toImage();
    const int left = (350 - 320) / 2, top = (230 - 200) / 2;
    EXPECT_EQ(rgb_of(0), image.pixel(left - 1, top) | 0xFF000000u);
    EXPECT_EQ(rgb_of(0), image.pixel(left, top - 1) | 0xFF000000u);
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
            EXPECT_EQ(rgb_of(14), image.pixel(left + dx, top + dy) | 0xFF000000u);
    EXPECT_EQ(rgb_of(1), image.pixel(left + 2, top) | 0xFF000000u);
    EXPECT_EQ(rgb_of(12), image.pixel(left + 2 * 10, top + 2 * 20) | 0xFF000000u);
    EXPECT_EQ(rgb_of(12), image.pixel(left + 2 * 30 - 1, top + 2 * 40 - 1) | 0xFF000000u);
    EXPECT_EQ(rgb_of(1), image.pixel(left + 2 * 30, top + 2 * 40) | 0xFF000000u);
    EXPECT_EQ(rgb_of(1), image.pixel(left + 319, top + 199) | 0xFF000000u);
    EXPECT_EQ(rgb_of(0), image.pixel(left + 320, top + 199) | 0xFF000000u);

    // The height toggle keeps the operator's scale.
    front_end.resized(160, 60);
    EXPECT_EQ(QSize(320, 120), w->size());
}

TEST(QtSmoke, TextCursorBlinks) {
    QtFrontEnd front_end;
    front_end.resized(160, 100);
    QWidget* w = front_end.widget();
    // Black on grey: the window drew the bar by exclusive-or with 0 ^ 7.
    Canvas canvas(160, 100);
    canvas.fill(7);
    canvas.fill_rect(Rect{50, 16, 59, 17}, 0);
    front_end.show(canvas, Rect{0, 0, 159, 99});
    front_end.text_cursor(Rect{50, 16, 59, 17}, 7);
    auto bar_colour = [&] { return w->grab().toImage().pixel(55, 17) | 0xFF000000u; };
    EXPECT_EQ(rgb_of(0), bar_colour()) << "a new cursor starts visible";
    front_end.blink_text_cursor();
    EXPECT_EQ(rgb_of(7), bar_colour());
    EXPECT_EQ(rgb_of(7), w->grab().toImage().pixel(49, 17) | 0xFF000000u);
    front_end.blink_text_cursor();
    EXPECT_EQ(rgb_of(0), bar_colour());
    front_end.blink_text_cursor();
    // The key arrived: the window takes the bar off, nothing blinks any more.
    front_end.text_cursor(Rect{}, 0);
    canvas.fill_rect(Rect{50, 16, 59, 17}, 7);
    front_end.show(canvas, Rect{50, 16, 59, 17});
    front_end.blink_text_cursor();
    EXPECT_EQ(rgb_of(7), bar_colour());
}

// Mouse and drops come out of wait_key as the two-code events, with the click
// mapped back from the scaled, centred picture to canvas pixels.
TEST(QtSmoke, MouseAndDropsBecomeEvents) {
    QtFrontEnd front_end;
    front_end.resized(160, 100);
    QWidget* w = front_end.widget();
    w->resize(350, 230); // scale 2, picture at (15, 15)
    auto click = [w](QPointF at, Qt::MouseButton button = Qt::LeftButton) {
        QMouseEvent event(QEvent::MouseButtonPress, at, w->mapToGlobal(at), button, button,
                          Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    };
    auto wheel = [w](int delta) {
        QWheelEvent event(QPointF(50, 50), w->mapToGlobal(QPointF(50, 50)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &event);
    };
    click(QPointF(14, 20));             // the band left of the picture: nothing
    click(QPointF(15, 15));             // canvas (0, 0)
    click(QPointF(15 + 319, 15 + 199)); // canvas (159, 99)
    click(QPointF(100, 100), Qt::RightButton);
    click(QPointF(15 + 320, 100)); // just beside: nothing
    wheel(60);                     // half a notch
    wheel(60);                     // ... makes one
    wheel(-240);                   // two down
    wheel(-120);                   // a fourth while three wait: dropped
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/data/ocs \u00e9.001"))});
    // A real drag enters the window before it drops there.
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);

    std::vector<int> got;
    std::vector<std::pair<int, int>> clicks;
    for (int i = 0; i < 12; ++i) {
        got.push_back(front_end.wait_key());
        if (got.back() == KEY_CLICK)
            clicks.emplace_back(front_end.click_position().x, front_end.click_position().y);
    }
    EXPECT_EQ((std::vector<int>{0, KEY_CLICK, 0, KEY_CLICK, 0, KEY_WHEEL_UP, 0, KEY_WHEEL_DOWN, 0,
                                KEY_WHEEL_DOWN, 0, KEY_DROP}),
              got);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0}, {159, 99}}), clicks);
    EXPECT_EQ("/data/ocs \xc3\xa9.001", front_end.dropped_path());
}

// A close is the operator's request, delivered after the keys typed before it;
// the window stays until the program has decided.
TEST(QtSmoke, CloseArrivesInOrderAndTheWindowStays) {
    QtFrontEnd front_end;
    front_end.resized(160, 100);
    QWidget* w = front_end.widget();
    w->show();
    press(w, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
    w->close();
    w->close(); // a second click on the close button adds nothing
    press(w, Qt::Key_C, Qt::NoModifier, QStringLiteral("c"));
    EXPECT_EQ('b', front_end.wait_key());
    EXPECT_THROW(front_end.wait_key(), CloseRequested);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ('c', front_end.wait_key());

    // Ctrl+Q is the same close; Ctrl+C and Ctrl+P are keys of their own.
    press(w, Qt::Key_C, Qt::ControlModifier, QStringLiteral("\x03"));
    press(w, Qt::Key_Q, Qt::ControlModifier, QStringLiteral("\x11"));
    press(w, Qt::Key_P, Qt::ControlModifier, QStringLiteral("\x10"));
    EXPECT_EQ(3, front_end.wait_key());
    EXPECT_THROW(front_end.wait_key(), CloseRequested);
    EXPECT_EQ(16, front_end.wait_key());

    front_end.close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_THROW(front_end.wait_key(), RunEnded);
}

QFileDialog* open_box() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QFileDialog*>(top); box && box->isVisible()) return box;
    }
    return nullptr;
}

// The file-open box can always be left: its Cancel and its own close cancel it,
// and closing the main window while it is up ends the run.
TEST(QtSmoke, FileBoxCanBeLeft) {
    QtFrontEnd front_end;
    front_end.resized(160, 100);
    QWidget* w = front_end.widget();
    w->show();
    const std::vector<FileFilter> filters = {{"All Files (*.*)", "*.*"}};
    const struct {
        const char* name;
        std::function<void(QFileDialog*)> leave;
        bool main_window_closed;
    } table[] = {
        {"Cancel", [](QFileDialog* box) { box->reject(); }, false},
        {"the box's own close", [](QFileDialog* box) { box->close(); }, false},
        {"closing the main window", [w](QFileDialog*) { w->close(); }, true},
    };
    for (const auto& row : table) {
        bool found = false;
        QTimer::singleShot(50, w, [&] {
            QFileDialog* box = open_box();
            found = box != nullptr;
            if (box)
                row.leave(box);
            else
                w->close(); // never wait for a box that did not come
        });
        if (row.main_window_closed) {
            EXPECT_THROW(front_end.open_file_box(filters), CloseRequested) << row.name;
        } else {
            EXPECT_EQ(std::nullopt, front_end.open_file_box(filters)) << row.name;
        }
        EXPECT_TRUE(found) << row.name;
        EXPECT_EQ(nullptr, open_box()) << row.name;
    }

    // A file chosen in the box comes back as its whole path.
    QTimer::singleShot(50, w, [&] {
        if (QFileDialog* box = open_box()) {
            // As the operator would: the name typed into the box's name field.
            if (auto* name = box->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(QStringLiteral(KORAX_SOURCE_DIR "/examples/ocs.001"));
            QMetaObject::invokeMethod(box, "accept");
        } else {
            w->close();
        }
    });
    EXPECT_EQ(std::string(KORAX_SOURCE_DIR "/examples/ocs.001"), front_end.open_file_box(filters));
}

TEST(QtSmoke, TitleAndClipboard) {
    QtFrontEnd front_end;
    front_end.resized(160, 100);
    // A chosen name comes in UTF-8, a typed one in Latin-1: both read right.
    front_end.set_title("\xc3\xa9t\xc3\xa9.001 (modified)");
    EXPECT_EQ(QStringLiteral("\u00e9t\u00e9.001 (modified)"), front_end.widget()->windowTitle());
    front_end.set_title("\xe9t\xe9.001");
    EXPECT_EQ(QStringLiteral("\u00e9t\u00e9.001"), front_end.widget()->windowTitle());
    front_end.copy_to_clipboard("240123.4567  0.0012  0.150");
    EXPECT_EQ(QStringLiteral("240123.4567  0.0012  0.150"), QGuiApplication::clipboard()->text());
}

TEST(QtSmoke, HoldLastsUntilTheOperatorCloses) {
    QtFrontEnd front_end;
    front_end.resized(160, 100);
    QWidget* w = front_end.widget();
    bool closed_by_timer = false;
    QTimer::singleShot(50, w, [&] {
        closed_by_timer = true;
        w->close();
    });
    front_end.hold();
    EXPECT_TRUE(closed_by_timer);
    EXPECT_TRUE(front_end.closed());
}

} // namespace
} // namespace korax

int main(int argc, char** argv) {
    // Also when run by hand: the test needs no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

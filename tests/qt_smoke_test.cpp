// The Qt window under the offscreen platform: synthetic key events must come out
// of wait_key as the program's codes, and the widget must show the canvas.
#include "window/qt/qt_front_end.h"
#include "window/window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QImage>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

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
    EXPECT_EQ(w->minimumSize(), w->maximumSize()); // the operator cannot resize it

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

TEST(QtSmoke, ClosingTheWindowEndsTheRunCleanly) {
    QtFrontEnd front_end;
    front_end.resized(160, 100);
    press(front_end.widget(), Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
    front_end.widget()->close();
    try {
        front_end.wait_key();
        FAIL() << "wait_key returned after the window was closed";
    } catch (const RunEnded& end) {
        EXPECT_EQ(0, end.status);
    }
    EXPECT_THROW(front_end.open_file_box({}), RunEnded);
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

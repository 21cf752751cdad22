// The interactive run: Qt is started here and nowhere else, so that the scripted
// run never needs a display.
#include "window/qt/run_interactive.h"

#include "window/qt/qt_front_end.h"
#include "window/window.h"

#include <QApplication>

namespace korax {

int run_interactive(int argc, char** argv, const std::function<void()>& program) {
    // QApplication keeps a reference to the count for its whole life.
    int qt_argc = argc;
    QApplication application(qt_argc, argv);
    QApplication::setApplicationName(QStringLiteral("KORAX"));
    // The program ends the run itself; closing the window must not quit Qt under it.
    QApplication::setQuitOnLastWindowClosed(false);

    QtFrontEnd front_end;
    Window window(front_end);
    InstalledWindow installed(window);
    try {
        program();
    } catch (const RunEnded& end) {
        return end.status;
    }
    return 0;
}

} // namespace korax

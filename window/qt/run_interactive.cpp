// The interactive run: Qt is started here and nowhere else, so that the scripted
// run never needs a display.
#include "window/qt/run_interactive.h"

#include "window/qt/qt_front_end.h"
#include "window/window.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace korax {

namespace {

constexpr const char* NO_DISPLAY =
    "korax: no display was found; to run off-screen use korax --play SCRIPT (see korax --help)\n";

bool display_named() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

// Qt aborts the process when no platform plugin starts (a display that is
// named but cannot be reached). While the application starts, its messages
// are held: a fatal one becomes the one line above and status 1, and
// otherwise they are passed on once the start has succeeded.
std::vector<std::string>& held_messages() {
    static std::vector<std::string> messages;
    return messages;
}

void start_up_handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        std::fputs(NO_DISPLAY, stderr);
        std::_Exit(1);
    }
    held_messages().push_back(qFormatLogMessage(type, context, text).toStdString());
}

} // namespace

int run_interactive(int argc, char** argv, const std::function<void()>& program) {
    if (!display_named()) {
        std::fputs(NO_DISPLAY, stderr);
        return 1;
    }
    // QApplication keeps a reference to the count for its whole life.
    int qt_argc = argc;
    const QtMessageHandler previous = qInstallMessageHandler(start_up_handler);
    QApplication application(qt_argc, argv);
    qInstallMessageHandler(previous);
    for (const auto& message : held_messages())
        std::fprintf(stderr, "%s\n", message.c_str());
    held_messages().clear();
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

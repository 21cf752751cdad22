// The close question of the viewer, drawn over the screen that is up and
// taken away again, so that the operator returns to exactly where they were.
#include "viewer/close_question.h"

#include "base/file_name.h"
#include "base/format.h"
#include "spectrum/store.h"
#include "viewer/command_guard.h"
#include "viewer/undo.h"
#include "window/inkey.h"
#include "window/window.h"

namespace korax {

std::string close_question_text(std::string_view fname) {
    std::string name(file_part(trim_right(fname)));
    // 55 characters of question around the name.
    constexpr std::size_t room = 80 - 55;
    if (name.size() > room) name = "..." + name.substr(name.size() - (room - 3));
    return " Unsaved changes to " + name + " will be lost. Close anyway (Y/N)? ";
}

bool ask_before_close() {
    if (!spectrum_history().modified() && !running_command_changed_spectrum()) return true;
    Window& w = window();
    const Window::Snapshot screen = w.save_screen();
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_position(1, 1);
    w.write_chars(blanks(80));
    w.set_text_color(15);
    w.set_text_background(12);
    w.set_text_position(1, 1);
    w.write_chars(close_question_text(store().FNAME));
    const std::int16_t key = INKEY();
    w.restore_screen(screen);
    // The wait that the close interrupted does not show the picture again.
    w.flush();
    return key == 'Y' || key == 'y';
}

CloseQuestionInViewer::CloseQuestionInViewer() {
    window().set_close_handler(ask_before_close);
}

CloseQuestionInViewer::~CloseQuestionInViewer() {
    window().set_close_handler({});
}

} // namespace korax

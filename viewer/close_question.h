// What a close of the window means while the viewer runs: with changes that
// were not saved it asks first, over whatever screen is up; otherwise, and
// outside the viewer, the window closes at once.
#pragma once

#include <string>
#include <string_view>

namespace korax {

// " Unsaved changes to NAME will be lost. Close anyway (Y/N)? ", with the
// file's name (its end after "..." when long) so that the row stays within 80.
[[nodiscard]] std::string close_question_text(std::string_view fname);

// The close handler of the viewer: true to close.
[[nodiscard]] bool ask_before_close();

// Installs ask_before_close for the viewer's stay (and the outer menu's, where
// the spectrum is still there to lose), and removes it however the stay ends.
class CloseQuestionInViewer {
  public:
    CloseQuestionInViewer();
    ~CloseQuestionInViewer();
    CloseQuestionInViewer(const CloseQuestionInViewer&) = delete;
    CloseQuestionInViewer& operator=(const CloseQuestionInViewer&) = delete;
};

} // namespace korax

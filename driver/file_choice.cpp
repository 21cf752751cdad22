// The file prompt of the main program and the generic-name rule behind its
// file-open box.
#include "driver/file_choice.h"

#include "base/format.h"
#include "spectrum/store.h"
#include "window/window.h"

#include <optional>

namespace korax {

namespace {

std::string g_generic; // GENNAM

} // namespace

std::string generic_entry(std::string_view fname) {
    fname = trim_right(fname);
    if (fname.empty() || fname.front() == ' ') return {};
    const auto end = fname.find_first_of(".\\/ :");
    if (end != std::string_view::npos && fname[end] == ':') return {};
    const std::string_view prefix = fname.substr(0, end);
    if (prefix.empty()) return {};
    const std::string p(prefix);
    return " " + p + " files (" + p + "*.*), " + p + "*.*;";
}

FilePtr open_spectrum_file(std::string& name, std::string* why) {
    std::string first_why;
    if (FilePtr f = open_input_file(name, &first_why)) return f;
    if (why) *why = first_why;
    if (name.find('\\') == std::string::npos) return nullptr;
    std::string slashed = name;
    for (char& c : slashed)
        if (c == '\\') c = '/';
    std::string second_why;
    FilePtr f = open_input_file(slashed, &second_why);
    // The text reader opens the file again by this name.
    if (f) name = slashed;
    // A FIFO met under the name as typed is the news, not that the other
    // spelling names nothing.
    else if (why && first_why != NOT_REGULAR)
        *why = second_why;
    return f;
}

void forget_generic_entry() {
    g_generic.clear();
}
const std::string& generic_entry_in_use() {
    return g_generic;
}

namespace {

// A file dropped on the window at the prompt stands for its typed name.
class DropsAreTyped {
  public:
    explicit DropsAreTyped(Window& w) : m_window(w) { m_window.set_drop_as_typed_line(true); }
    ~DropsAreTyped() { m_window.set_drop_as_typed_line(false); }
    DropsAreTyped(const DropsAreTyped&) = delete;
    DropsAreTyped& operator=(const DropsAreTyped&) = delete;

  private:
    Window& m_window;
};

std::optional<std::string> g_first_answer;

} // namespace

void set_first_answer(std::string name) {
    g_first_answer = std::move(name);
}

FilePtr choose_spectrum_file() {
    Window& w = window();
    std::string& fname = store().FNAME;

    for (;;) {
        w.write_line("");
        w.write_line(blanks(10) + "TYPE ONE OF:");
        w.write_line("");
        w.write_line(blanks(14) + "Name of data file,");
        w.write_line(blanks(14) + "Generic name for use in the SelectFile box,");
        w.write_line(blanks(14) + "ENTER for the default or previous SelectFile box");
        w.set_text_cursor(true);
        w.write_line(blanks(10) + "... ", LineEnd::Stay);
        if (g_first_answer) {
            // The name given on the command line answers the first prompt.
            fname = std::string(trim_right(*g_first_answer));
            g_first_answer.reset();
            w.write_line(fname);
        } else {
            const DropsAreTyped drops(w);
            fname = std::string(trim_right(w.read_line()));
        }
        std::string filter(DEFAULT_FILTER);
        if (fname.empty() && !g_generic.empty()) filter = g_generic + std::string(DEFAULT_FILTER);

        for (;;) {
            if (fname.empty()) {
                auto chosen = w.open_file_box(filter);
                // Cancel leaves the box for the typed prompt, so that the box
                // is never a trap; its generic entry is forgotten.
                if (!chosen || chosen->empty()) {
                    g_generic.clear();
                    break;
                }
                fname = *chosen;
            }
            std::string why;
            if (FilePtr file = open_spectrum_file(fname, &why)) return file;
            // A missing name goes to the box without a word; one that names a
            // FIFO or device is said to be no file, or the box would seem to
            // ignore it.
            if (why == NOT_REGULAR) {
                w.set_text_color(12);
                w.write_line("");
                w.write_line(blanks(10) + fname + ": " + NOT_REGULAR);
                w.set_text_color(0);
            }
            // A failed open never shows a message otherwise: the box comes
            // instead, offering files whose names start like the one typed.
            g_generic = generic_entry(fname);
            fname.clear();
            filter = g_generic + std::string(DEFAULT_FILTER);
        }
    }
}

} // namespace korax

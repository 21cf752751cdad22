// The file prompt of the main program and the generic-name rule behind its
// file-open box.
#include "driver/file_choice.h"

#include "driver/store.h"
#include "window/format.h"
#include "window/window.h"

#include <optional>

#include <sys/stat.h>

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

FilePtr open_spectrum_file(std::string& name) {
    const auto open = [](const std::string& n) -> FilePtr {
        FilePtr f(std::fopen(n.c_str(), "rb"));
        if (!f) return nullptr;
        struct stat st {};
        if (::fstat(::fileno(f.get()), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
        return f;
    };
    if (FilePtr f = open(name)) return f;
    if (name.find('\\') == std::string::npos) return nullptr;
    std::string slashed = name;
    for (char& c : slashed)
        if (c == '\\') c = '/';
    FilePtr f = open(slashed);
    // The text reader opens the file again by this name.
    if (f) name = slashed;
    return f;
}

void forget_generic_entry() {
    g_generic.clear();
}
const std::string& generic_entry_in_use() {
    return g_generic;
}

namespace {
std::optional<std::string> g_first_answer;
} // namespace

void set_first_answer(std::string name) {
    g_first_answer = std::move(name);
}

FilePtr choose_spectrum_file() {
    Window& w = window();
    std::string& fname = store().FNAME;

    w.write_line("");
    w.write_line(blanks(10) + "TYPE ONE OF:");
    w.write_line("");
    w.write_line(blanks(14) + "Name of data file,");
    w.write_line(blanks(14) + "Generic name for use in the SelectFile box,");
    w.write_line(blanks(14) + "ENTER for the default or previous SelectFile box");
    w.set_text_cursor(true);
    w.write_line(blanks(10) + "... ", LineEnd::Stay);
    if (g_first_answer) {
        fname = std::string(trim_right(*g_first_answer));
        g_first_answer.reset();
        w.write_line(fname);
    } else {
        fname = std::string(trim_right(w.read_line()));
    }

    std::string filter(DEFAULT_FILTER);
    if (fname.empty() && !g_generic.empty()) filter = g_generic + std::string(DEFAULT_FILTER);

    for (;;) {
        if (fname.empty()) {
            if (auto chosen = w.open_file_box(filter)) fname = *chosen;
        }
        if (!fname.empty()) {
            if (FilePtr file = open_spectrum_file(fname)) return file;
        }
        // A failed open never shows a message: the box comes instead, offering
        // files whose names start like the one typed.
        if (fname.empty()) {
            g_generic.clear();
            continue;
        }
        g_generic = generic_entry(fname);
        fname.clear();
        filter = g_generic + std::string(DEFAULT_FILTER);
    }
}

} // namespace korax

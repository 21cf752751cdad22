// SAVESP: writes the spectrum in work to a new PELMO binary file next to the
// spectrum it came from. The whole file is composed in one buffer
// (pelmo_image.cpp) and handed to SafeFile in one write, so that an existing
// file is only replaced by a complete one.
#include "output/savesp.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"
#include "base/utf8.h"
#include "output/pelmo_image.h"
#include "spectrum/store.h"
#include "window/dialog.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>

namespace korax {

namespace {

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(trim_right(text.substr(first)));
}

} // namespace

namespace {
std::uint64_t g_saves = 0;
std::string g_last_saved;
} // namespace

std::uint64_t spectrum_saves() {
    return g_saves;
}

const std::string& last_saved_path() {
    return g_last_saved;
}

void SAVESP() {
    Window& w = window();
    SpectrumStore& s = store();
    const std::string folder = directory_part(trim_right(s.FNAME));

    w.write_line(" ");
    w.write_line(heading("O U T P U T   T O   F I L E"));
    w.write_line("");
    w.write_line("");
    w.write_line("");
    w.write_line(" ");
    std::string shown = s.FNAME;
    if (character_count(shown) < 50) shown = pad(shown, 50);
    w.write_line("     This spectrum is from file:  " + shown);
    w.write_line("");
    w.write_line("     Specify file name for output");
    w.write_line("     (without the path)            ....  ", LineEnd::Stay);
    std::string name = trimmed(w.read_line());

    const auto ask_new_name = [&] {
        w.write_line(" New file name:  ", LineEnd::Stay);
        name = trimmed(w.read_line());
    };

    SafeFile file;
    OpenMode mode = OpenMode::New;
    std::string path;
    for (;;) {
        // ENTER alone at a name prompt is the way out when no name will do
        // (for instance a folder that cannot be written to).
        if (name.empty()) return;
        // A name given with its full path is taken as it stands.
        path = name.front() == '/' ? name : folder + name;
        const SafeFile::Status status = file.open(path, mode);
        if (status == SafeFile::Status::Ok) break;
        if (status == SafeFile::Status::Error) {
            // Asking to overwrite would not help here: report why and ask again.
            write_red_line(w, "     Cannot create " + path + ": " + file.error_text());
            mode = OpenMode::New;
            ask_new_name();
            continue;
        }
        w.write_line(" ");
        w.write_line("     THIS FILE ALREADY EXISTS, OVERWRITE (Y/N)?  ", LineEnd::Stay);
        const std::string answer = w.read_line();
        const char c = answer.empty() ? '\0' : answer.front();
        if (c == 'Y' || c == 'y') {
            mode = OpenMode::Unknown;
        } else if (c == 'N' || c == 'n') {
            mode = OpenMode::New;
            ask_new_name();
        } else {
            return;
        }
    }

    const std::span<const std::int32_t> points(s.INTENS.data() + 1,
                                               static_cast<std::size_t>(std::max(s.NPTS, 0)));
    const SaveScaling scaling = save_scaling(points);
    s.IYMIN = scaling.lo;
    s.IYMAX = scaling.hi;
    file.write(pelmo_file_image(s.SPHEAD, points, s.FSTART, s.FEND, s.FSTEP, scaling));
    const bool written = file.commit();
    if (written) {
        ++g_saves;
        g_last_saved = path;
    }

    w.write_line(" ");
    w.write_line("");
    const std::vector<std::string> errors = error_lines(file.error_text());
    if (written) {
        w.write_line("     Output has been written to ", LineEnd::Stay);
        write_red_line(w, path);
        // A temporary that could not be removed, named so that it can be.
        if (!file.error_text().empty())
            for (const std::string& line : errors)
                write_red_line(w, "     " + line);
    } else {
        write_red_line(w, "     Output NOT written to " + path + ": " + errors.front());
        for (std::size_t i = 1; i < errors.size(); ++i)
            write_red_line(w, "     " + errors[i]);
    }
    press_enter(w, PressEnter::Right);
}

} // namespace korax

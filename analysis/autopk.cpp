// AUTOPK (PEAKFINDER): the range and results-file dialogs around the search,
// and the count of lines shown while it runs. The search and the file are
// peak_search.cpp's and peak_results.cpp's, which draw nothing.
#include "analysis/autopk.h"

#include "analysis/peak_search.h"
#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"
#include "spectrum/store.h"
#include "window/answer.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <optional>
#include <string>
#include <thread>

namespace korax {

namespace {

// Reads a file name at the prompt already written. An empty answer is the way
// out when no name will do (a folder that cannot be written to, say).
std::optional<std::string> read_name(Window& w) {
    std::string name(trim_right(w.read_line()));
    if (name.find_first_not_of(' ') == std::string::npos) return std::nullopt;
    return name;
}

// The output-file dialog: true with `file` open on `full_name`, false when the
// operator left at a name prompt or at the overwrite question. Every new name
// is opened as "NEW", so a yes given for one name never replaces another file.
bool open_results_file(Window& w, SafeFile& file, std::string& full_name) {
    const std::string prefix = directory_part(store().FNAME);
    static constexpr std::string_view name_prompt = "     OUTPUT FILE NAME :  ";
    static constexpr std::string_view new_name_prompt = "     New file name:  ";
    w.write_line(" ");
    w.write_line(name_prompt, LineEnd::Stay);
    auto name = read_name(w);
    OpenMode mode = OpenMode::New;
    for (;;) {
        if (!name) return false;
        // A name typed from the root is taken as it stands; any other goes
        // next to the spectrum.
        full_name = name->front() == '/' ? *name : prefix + *name;
        const auto status = file.open(full_name, mode);
        if (status == SafeFile::Status::Ok) return true;
        if (status == SafeFile::Status::Error) {
            w.write_line(" ");
            write_red_line(w, "     " + full_name + ": " + file.error_text());
            w.write_line(name_prompt, LineEnd::Stay);
            name = read_name(w);
            mode = OpenMode::New;
            continue;
        }
        w.write_line(" ");
        static constexpr std::string_view question =
            "     THIS FILE ALREADY EXISTS, OVERWRITE (Y/N)?  ";
        w.write_line(question, LineEnd::Stay);
        const std::string answer = pad(w.read_line(), 8);
        if (answer == "Y       " || answer == "y       ") {
            mode = OpenMode::Unknown;
        } else if (answer == "N       " || answer == "n       ") {
            w.write_line(new_name_prompt, LineEnd::Stay);
            name = read_name(w);
            mode = OpenMode::New;
        } else {
            return false;
        }
    }
}

std::int16_t ask_range(Window& w, std::int16_t cutoff, std::int16_t baseline) {
    for (;;) {
        w.clear_window();
        w.set_text_cursor(true);
        w.write_line(" ");
        w.write_line(heading("P E A K F I N D E R"));
        w.write_line("");
        w.write_line("");
        w.write_line("     Peaks will be identified for lines with intensity above");
        w.write_line("     the cutoff value and peak intensities will be relative");
        w.write_line("     to the specified baseline");
        w.write_line("");
        w.write_line("     Y-axis cutoff:   " + fmt_int(cutoff, 6));
        w.write_line("     Y-axis baseline: " + fmt_int(baseline, 6));
        w.write_line("");
        w.write_line("     Select search range:  0 = current window");
        w.write_line(blanks(27) + "1 = complete spectrum");
        w.write_line("");
        w.write_line(blanks(22) + ".... ", LineEnd::Stay);
        const auto answer = read_int<std::int16_t>(w.read_line(), 5);
        if (answer && (*answer == 0 || *answer == 1)) return *answer;
    }
}

} // namespace

std::vector<FoundLine>& peakfinder_lines() {
    static std::vector<FoundLine> lines;
    return lines;
}

void AUTOPK(std::int32_t& IFIRST, std::int32_t& ILAST, std::int16_t& cutoff, std::int16_t& baseline,
            std::int16_t& NFIT, double& height) {
    auto& w = window();
    auto& s = store();

    const std::int16_t range = ask_range(w, cutoff, baseline);
    PeakSearchSettings st;
    st.start = range == 0 ? std::max(1, IFIRST) : 1;
    st.end = range == 0 ? std::min(s.NPTS, ILAST) : s.NPTS;
    st.cutoff = cutoff;
    st.baseline = baseline;
    st.nfit = NFIT;
    st.height = height;
    st.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    SafeFile file;
    std::string full_name;
    if (!open_results_file(w, file, full_name)) return;

    std::string lines;
    w.write_line(" ");
    w.write_line("");
    w.write_line("     The number of identified lines: ");
    w.write_line("     ", LineEnd::Stay);
    w.flush();
    std::vector<FoundLine>& found = peakfinder_lines();
    found.clear();
    const auto totals = search_lines(
        s.FREQ, s.INTENS, s.NPTS, st, lines,
        [&w](std::int32_t count) {
            w.write_line(fmt_int(count, 5), LineEnd::Stay);
            w.flush();
        },
        &found);
    std::string error;
    const bool written = write_results_file(file, s.FNAME, st, lines, totals, error);

    w.write_line(" ");
    w.write_line("");
    w.write_line("     PEAKFINDER found" + fmt_int(totals.count, 7) + " transitions");
    w.write_line("");
    if (written) {
        w.write_line("     Output has been written to ", LineEnd::Stay);
        write_red_line(w, full_name);
        // A temporary that could not be removed, named so that it can be.
        if (!error.empty())
            for (const std::string& line : error_lines(error))
                write_red_line(w, "     " + line);
    } else {
        write_red_line(w, "     ERROR: the results were not written to " + full_name);
        for (const std::string& line : error_lines(error))
            write_red_line(w, "     " + line);
    }
    press_enter(w, PressEnter::Right);
}

} // namespace korax

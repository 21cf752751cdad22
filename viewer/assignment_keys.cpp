// The assignment keys of the viewer: T writes the measurement just made, with
// the prediction it belongs to, into the assignment file; D sets the tolerance,
// threshold, uncertainty, weight and the file itself.
#include "viewer/assignment_keys.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"
#include "catalog/assignments.h"
#include "driver/store.h"
#include "viewer/catalog_keys.h"
#include "viewer/catalog_screens.h"
#include "viewer/display.h"
#include "viewer/lin_state.h"
#include "window/answer.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <array>
#include <set>
#include <string>

namespace korax {

namespace {

LastAssignment g_last_assignment;

// Y or N, read as single keys like the viewer's exit question.
bool ask_yes(const std::string& question) {
    auto& w = window();
    w.set_text_color(15);
    w.set_text_background(12);
    w.set_text_position(1, 1);
    w.write_chars(pad(question, 80).substr(0, 80));
    w.set_text_background(7);
    w.set_text_position(2, 1);
    w.write_chars(blanks(80));
    for (;;) {
        std::int16_t k = INKEY();
        if (k == 'Y' || k == 'y') return true;
        if (k == 'N' || k == 'n') return false;
    }
}

// ---- D: settings --------------------------------------------------------------------

// One setting: the typed value, or the shown one kept for an empty answer. An
// answer that cannot be read or is out of range asks again.
double ask_value(const std::string& prompt, double now, bool (*valid)(double)) {
    auto& w = window();
    for (;;) {
        w.write_line(prompt + " (now " + typed_name(fmt_fixed(now, 14, 4)) + "): ", LineEnd::Stay);
        const std::string typed = w.read_line();
        if (typed_name(typed).empty()) return now;
        auto value = read_real(typed);
        if (value && valid(*value)) return *value;
    }
}

std::string default_lin_path(std::size_t catalog) {
    const auto& s = catalog_session();
    if (s.catalogs.empty()) return "assignments.lin";
    std::string path = s.catalogs[std::min(catalog, s.catalogs.size() - 1)].path;
    std::string_view name = file_part(path);
    auto dot = name.rfind('.');
    std::size_t cut =
        dot == std::string_view::npos || dot == 0 ? path.size() : path.size() - name.size() + dot;
    return path.substr(0, cut) + ".lin";
}

// Whether the assignments may go to `path`: a file that is not an assignment
// file is refused by name (false), an existing one needs the operator's yes
// to be added to; a new name is taken as it is.
bool accept_lin_file(const std::string& path) {
    auto& w = window();
    const AssignmentScan scan = scan_assignments(path);
    if (!scan.error.empty()) {
        write_red_line(w, "     " + path + ": " + scan.error + " - the file is not changed");
        press_enter(w, PressEnter::Below);
        return false;
    }
    if (!scan.exists) return true;
    w.write_line("     " + path + " exists with " + std::to_string(scan.lines) +
                     " lines: add the assignments to it (Y/N)? ",
                 LineEnd::Stay);
    std::int16_t k = 0;
    while (k != 'Y' && k != 'y' && k != 'N' && k != 'n')
        k = INKEY();
    w.write_line("");
    return k == 'Y' || k == 'y';
}

// Asks for the assignment file's name until one is accepted: a new file, or an
// existing one the operator agrees to add to. false: the operator gave up.
bool choose_lin_file(std::size_t catalog) {
    auto& w = window();
    auto& s = catalog_session();
    const std::string suggestion =
        s.settings.lin_path.empty() ? default_lin_path(catalog) : s.settings.lin_path;
    for (;;) {
        open_dialog_screen(window(), "A S S I G N M E N T   F I L E");
        w.write_line("     Name of the assignment file, relative to the folder of the current");
        w.write_line("     spectrum (ENTER takes " + suggestion + ")");
        w.write_line("");
        w.write_line("      Assignment file:  ", LineEnd::Stay);
        std::string name = typed_name(w.read_line());
        std::string path = name.empty() ? suggestion : beside_spectrum(name);
        if (!accept_lin_file(path)) continue;
        lin_file_chosen(path);
        save_catalog_state();
        w.set_text_cursor(false);
        return true;
    }
}

// Several predictions within the tolerance: the operator picks one by its number.
std::optional<LineRef> choose_prediction(ViewerState& v, const std::vector<LineRef>& found,
                                         const Measured& m) {
    auto& w = window();
    auto& s = catalog_session();
    const std::size_t shown_count = std::min<std::size_t>(found.size(), 9);
    std::optional<LineRef> chosen;
    for (;;) {
        open_dialog_screen(window(), "A S S I G N   M E A S U R E D   L I N E");
        w.write_line("     Measured frequency: " + fmt_fixed(m.freq, 14, 4) + " +-" +
                     fmt_fixed(m.error, 7, 4));
        w.write_line("     " + std::to_string(found.size()) + " predictions lie within " +
                     typed_name(fmt_fixed(s.settings.tolerance, 14, 4)) + " of it" +
                     (found.size() > shown_count ? "; the 9 nearest:" : ":"));
        w.write_line("");
        for (std::size_t i = 0; i < shown_count; ++i)
            w.write_line(
                std::to_string(i + 1) + " " +
                std::string(trim_right(identification_row(s, found[i], m.freq).substr(0, 77))));
        w.write_line("");
        w.write_line("     Number of the prediction to assign (ENTER = none): ", LineEnd::Stay);
        auto answer = read_int<int>(w.read_line(), 5);
        if (!answer) continue;
        if (*answer == 0) break;
        if (*answer >= 1 && static_cast<std::size_t>(*answer) <= shown_count) {
            chosen = found[static_cast<std::size_t>(*answer - 1)];
            break;
        }
    }
    w.set_text_cursor(false);
    screen_redraw(v);
    return chosen;
}

} // namespace

void mark_from_file(const std::string& path) {
    auto& s = catalog_session();
    for (auto& list : s.assigned)
        list.clear();
    // Read up to a line that is not a record, if there is one: marking only
    // shows, it changes nothing.
    std::set<std::array<int, 12>> recorded;
    (void)scan_assignments(path, [&](std::string_view line, std::string_view) {
        if (auto fields = record_fields(line)) recorded.insert(*fields);
        return true;
    });
    if (recorded.empty()) return;
    // One pass over every catalogue, one look-up a line: the file may hold
    // hundreds of records and the catalogues millions of lines.
    for (std::size_t c = 0; c < s.catalogs.size(); ++c) {
        const auto& lines = s.catalogs[c].lines();
        for (std::size_t k = 0; k < lines.size(); ++k) {
            QuantumNumbers q = quantum_numbers(lines[k]);
            if (q.ok && recorded.count(transition_fields(q)) > 0) s.assigned[c].push_back(k);
        }
    }
}

void key_settings(ViewerState& v) {
    auto& w = window();
    auto& set = catalog_session().settings;
    open_dialog_screen(window(), "C A T A L O G U E   S E T T I N G S");
    w.write_line("     ENTER keeps the value shown");
    w.write_line("");
    set.tolerance = ask_value("     Tolerance of an assignment, in frequency units", set.tolerance,
                              [](double x) { return x > 0; });
    set.threshold = ask_value("     Intensity threshold of } and {, log10", set.threshold,
                              [](double x) { return x >= -1e6 && x <= 1e6; });
    set.fixed_unc = ask_value("     Fixed uncertainty, 0 for the fit's error", set.fixed_unc,
                              [](double x) { return x >= 0; });
    set.weight =
        ask_value("     Weight of an assigned line", set.weight, [](double x) { return x > 0; });
    w.write_line("     Assignment file (now " +
                     (set.lin_path.empty() ? std::string("not chosen") : set.lin_path) + "): ",
                 LineEnd::Stay);
    // A name not taken asks again; ENTER keeps the file chosen before.
    for (;;) {
        const std::string name = typed_name(w.read_line());
        if (name.empty()) break;
        const std::string path = beside_spectrum(name);
        if (accept_lin_file(path)) {
            lin_file_chosen(path);
            break;
        }
        w.set_text_color(0);
        w.write_line("     Assignment file (ENTER keeps " +
                         (set.lin_path.empty() ? std::string("none") : set.lin_path) + "): ",
                     LineEnd::Stay);
    }
    save_catalog_state();
    w.set_text_cursor(false);
    screen_redraw(v);
}

// ---- T: assign ------------------------------------------------------------------------

void key_assign(ViewerState& v) {
    auto& s = catalog_session();
    auto m = measurement_to_assign(v.FCURS);
    if (!m) {
        catalog_message(v,
                        " No measurement to assign: measure the line with O or X (or 9, =) first");
        return;
    }
    if (!m->refusal.empty()) {
        catalog_message(v, " Not assigned: " + m->refusal, " (X fits the line's profile instead)");
        return;
    }
    auto found = predictions_within(s, m->freq, s.settings.tolerance);
    if (found.empty()) {
        catalog_message(v,
                        " No predicted line within " +
                            typed_name(fmt_fixed(s.settings.tolerance, 14, 4)) +
                            " of the measured frequency" + fmt_fixed(m->freq, 14, 4),
                        " (D sets the tolerance)");
        return;
    }
    LineRef r = found.front();
    if (found.size() > 1) {
        auto chosen = choose_prediction(v, found, *m);
        if (!chosen) return;
        r = *chosen;
    }
    const PredictedLine& line = s.line(r);
    QuantumNumbers q = quantum_numbers(line);
    if (!q.ok) {
        catalog_message(v, " Not assigned: the quantum numbers of this prediction cannot be read",
                        "  " + quantum_number_text(line));
        return;
    }
    const double unc = s.settings.fixed_unc > 0 ? s.settings.fixed_unc : m->error;
    if (!(unc > 0)) {
        // A zero uncertainty would give the line an infinite weight in the fit.
        catalog_message(
            v, " Not assigned: the measurement has no error; set a fixed uncertainty with D");
        return;
    }
    auto record = lin_line(q, m->freq, unc, s.settings.weight, trim_right(store().FNAME), s.unit);
    if (!record) {
        catalog_message(
            v, " Not assigned: a quantum number does not fit the assignment file's fields");
        return;
    }
    if (!lin_file_ready()) {
        if (!choose_lin_file(r.catalog)) return;
        screen_redraw(v);
    }
    const std::string& path = s.settings.lin_path;
    // Read again under the file's lock: the file may have been edited since,
    // or be written by another session right now, and what they wrote is kept.
    const auto waiting = [&] {
        catalog_message(v, " Waiting for " + path + ": another program is writing it");
        window().flush();
    };
    AssignOutcome done = write_assignment(path, q, *record, false, waiting);
    if (done.status == AssignStatus::AssignedAlready) {
        if (!ask_yes(" This transition is assigned already: replace its line (Y/N) ? ")) {
            catalog_message(v, " Not assigned: the assignment file keeps its line",
                            "  " + done.line);
            return;
        }
        done = write_assignment(path, q, *record, true, waiting);
    }
    if (done.status != AssignStatus::Written) {
        // The reason first: a long path must not push it off the row.
        catalog_message(v, " Not assigned: " + done.text, " " + path + " is as it was", 12);
        return;
    }
    const bool replaced = done.replaced;
    s.mark_assigned(r);
    g_last_assignment = LastAssignment{*record, m->freq};
    plot_redraw(v);
    std::string row2 = " ";
    row2 += fmt_fixed(m->freq, 14, 4);
    row2 += " +-";
    row2 += fmt_fixed(unc, 7, 4);
    row2 += "   o-c";
    row2 += fmt_fixed(m->freq - s.frequency(r), 9, 4);
    catalog_message(v,
                    std::string(replaced ? " Replaced in " : " Assigned in ") + path + ": " +
                        quantum_number_text(line),
                    row2);
    // In place, but the folder could not be synced (or a temporary stayed).
    if (!done.text.empty()) {
        auto& w = window();
        w.set_text_color(12);
        w.set_text_background(7);
        w.set_text_position(2, 1);
        w.write_chars(pad(" " + error_lines(done.text).front(), 80).substr(0, 80));
        w.set_text_color(15);
    }
}

const LastAssignment& last_assignment() {
    return g_last_assignment;
}

} // namespace korax

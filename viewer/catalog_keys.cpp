// Catalogue keys of the viewer and the glue between the catalogue library and
// the picture. The identification row takes the key-line row while catalogues
// are shown; V gives the key line back.
#include "viewer/catalog_keys.h"

#include "base/files.h"
#include "base/format.h"
#include "catalog/assignments.h"
#include "driver/startup.h"
#include "driver/store.h"
#include "viewer/display.h"
#include "viewer/file_prompt.h"
#include "viewer/measure.h"
#include "window/answer.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <string>

namespace korax {

CatalogSession& catalog_session() {
    static CatalogSession session;
    return session;
}

namespace {

// What the last measuring key left to be assigned.
struct MeasureNote {
    std::int16_t key = 0;           // 'O', '=' or '9'; 0: nothing measured yet
    MeasurementMemory before;       // the memory as the key found it
    bool identify_measured = false; // the next plot redraw identifies the measurement
    std::string notice;             // shown once on the identification row (light red)
};
MeasureNote& note() {
    static MeasureNote n;
    return n;
}

bool same_memory(const MeasurementMemory& a, const MeasurementMemory& b) {
    return a.FLAST == b.FLAST && a.FPREV == b.FPREV && a.ELAST == b.ELAST && a.EPREV == b.EPREV;
}

struct Measured {
    double freq = 0, error = 0;
};

// The measurement that T assigns: the last fitted or cursor frequency, or the
// average after "=". nullopt before any measurement and after an O that failed.
std::optional<Measured> measurement_to_assign() {
    const MeasureNote& n = note();
    const MeasurementMemory& m = measurement_memory();
    if (n.key == 0) return std::nullopt;
    if (n.key == '=') {
        if (m.FLAST == 0 && m.FPREV == 0) return std::nullopt;
        float e = static_cast<float>(std::sqrt(m.EPREV * m.EPREV + m.ELAST * m.ELAST));
        return Measured{(m.FLAST + m.FPREV) / 2, e};
    }
    if (same_memory(m, n.before)) return std::nullopt;
    return Measured{m.FLAST, m.ELAST};
}

int plot_width() {
    return store().SCREEN.MAXX - 3;
}
int plot_height() {
    const auto& g = store().SCREEN;
    return g.MAXY - 4 * g.ROWPIX + 5;
}

bool shown() {
    const auto& s = catalog_session();
    return s.overlay_on && !s.empty();
}

// Messages of the catalogue keys take the two status rows, as those of O do.
void message(ViewerState& v, const std::string& row1, const std::string& row2 = {}, int color = 1) {
    auto& w = window();
    w.set_text_color(color);
    w.set_text_background(7);
    w.set_text_position(1, 1);
    w.write_chars(pad(row1, 80).substr(0, 80));
    w.set_text_position(2, 1);
    w.write_chars(pad(row2, 80).substr(0, 80));
    w.set_text_color(15);
    v.STALE = true;
}

void dialog_screen(const char* spaced_title) {
    auto& w = window();
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.set_text_position(1, 1);
    w.set_text_cursor(true);
    w.write_line(" ");
    w.write_line(heading(spaced_title));
    w.write_line("");
}

void press_enter() {
    auto& w = window();
    w.set_text_color(0);
    w.write_line(" ");
    w.write_line("     Press ENTER to continue");
    wait_for_enter();
}

bool blank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

std::string trimmed(std::string_view text) {
    text = trim_right(text);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    std::string name(text);
    // Either slash separates folders, as in every other file name of the program.
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// A typed name is taken relative to the spectrum's folder unless it starts at the root.
std::string beside_spectrum(const std::string& name) {
    if (!name.empty() && name.front() == '/') return name;
    return directory_part(store().FNAME) + name;
}

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

// Marks the lines of every catalogue whose transition the assignment file holds.
void mark_from_file(const AssignmentFile& file) {
    auto& s = catalog_session();
    for (auto& list : s.assigned)
        list.clear();
    std::set<std::array<int, 12>> recorded;
    for (const auto& record : file.lines)
        if (auto fields = record_fields(record)) recorded.insert(*fields);
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

struct Opened {
    bool ok = false;
    std::string text; // what happened, after the file's name
};

Opened open_catalog(const std::string& path) {
    auto& s = catalog_session();
    if (s.catalogs.size() >= MAX_CATALOGS)
        return {false,
                "not opened: " + std::to_string(MAX_CATALOGS) + " catalogues are open already"};
    Catalog c;
    CatalogLoad load = read_catalog(path, c);
    if (!load.error.empty()) return {false, load.error};
    std::size_t lines = c.size();
    s.add(std::move(c));
    if (!s.settings.lin_path.empty()) mark_from_file(read_assignments(s.settings.lin_path));
    return {true, load_summary(lines, load)};
}

void open_startup_catalogs() {
    auto& s = catalog_session();
    if (s.startup_opened) return;
    s.startup_opened = true;
    std::string failures;
    for (const auto& name : startup_catalogs()) {
        Opened opened = open_catalog(name);
        // The row is short: the file's own name says enough.
        if (!opened.ok)
            failures +=
                (failures.empty() ? "" : "; ") + std::string(file_part(name)) + " " + opened.text;
    }
    note().notice = failures;
}

// ---- C: open a catalogue ------------------------------------------------------------

} // namespace

void key_open(ViewerState& v) {
    auto& w = window();
    auto& s = catalog_session();
    for (;;) {
        dialog_screen("L I N E   C A T A L O G U E S");
        for (std::size_t i = 0; i < s.catalogs.size(); ++i)
            w.write_line("     " + fmt_int(static_cast<long long>(i + 1), 2) + "  " +
                         fmt_int(static_cast<long long>(s.catalogs[i].size()), 9) + " lines  " +
                         s.catalogs[i].path);
        if (!s.catalogs.empty()) w.write_line("");
        w.write_line("     Name of the line catalogue to open, relative to the folder of the");
        w.write_line("     current spectrum (ENTER alone: the file-open box; Esc: exit)");
        w.write_line("");
        w.write_line("      Current spectrum:  " + store().FNAME);
        w.write_line("             Catalogue:  ", LineEnd::Stay);
        const TypedName typed = read_file_name(NamedFile::Catalogue);
        const std::string path =
            typed.chosen_in_box ? typed.text : beside_spectrum(trimmed(typed.text));
        Opened opened = open_catalog(path);
        w.write_line(" ");
        if (!opened.ok) w.set_text_color(12);
        w.write_line("     " + path + (opened.ok ? ": " : " ") + opened.text);
        press_enter();
        if (opened.ok) break;
    }
    w.set_text_cursor(false);
    screen_redraw(v);
}

// ---- ] [ } {: the cursor to a prediction ----------------------------------------------

void key_jump(ViewerState& v, bool previous, bool strong_only) {
    auto& s = catalog_session();
    const auto& st = store();
    const double f1 = st.FREQ[1], fn = st.FREQ[static_cast<std::size_t>(st.NPTS)];
    const double threshold = strong_only ? s.settings.threshold : -1e30;
    auto r = adjacent_prediction(s, v.FCURS, previous, f1, fn, threshold);
    if (!r) {
        message(v, std::string(" No predicted line ") + (previous ? "below" : "above") +
                       " the cursor in this spectrum" +
                       (strong_only ? " at or above intensity " +
                                          trimmed(fmt_fixed(s.settings.threshold, 9, 4))
                                    : ""));
        return;
    }
    const double f = s.frequency(*r);
    if (f > v.FLOW && f < v.FHIGH) {
        draw_cursor(v);
        v.FCURS = f;
        draw_cursor(v);
        v.ICURS = std::clamp(index_of_frequency(v.FCURS), std::int32_t{1}, st.NPTS);
        update_cursor_status(v);
        return;
    }
    // Off screen: the display moves to centre the line, keeping its width.
    const double width = v.FHIGH - v.FLOW;
    v.FLOW = f - width / 2;
    v.FHIGH = f + width / 2;
    if (v.FLOW < f1) {
        v.FLOW = f1;
        v.FHIGH = std::min(fn, f1 + width);
    }
    if (v.FHIGH > fn) {
        v.FHIGH = fn;
        v.FLOW = std::max(f1, fn - width);
    }
    v.FCURS = f;
    plot_redraw(v);
}

namespace {

// ---- D: settings --------------------------------------------------------------------

// One setting: the typed value, or the shown one kept for an empty answer. An
// answer that cannot be read or is out of range asks again.
double ask_value(const std::string& prompt, double now, bool (*valid)(double)) {
    auto& w = window();
    for (;;) {
        w.write_line(prompt + " (now " + trimmed(fmt_fixed(now, 14, 4)) + "): ", LineEnd::Stay);
        const std::string typed = w.read_line();
        if (blank(typed)) return now;
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

// Asks for the assignment file's name until one is accepted: a new file, or an
// existing one the operator agrees to add to. false: the operator gave up.
bool choose_lin_file(std::size_t catalog) {
    auto& w = window();
    auto& s = catalog_session();
    const std::string suggestion =
        s.settings.lin_path.empty() ? default_lin_path(catalog) : s.settings.lin_path;
    for (;;) {
        dialog_screen("A S S I G N M E N T   F I L E");
        w.write_line("     Name of the assignment file, relative to the folder of the current");
        w.write_line("     spectrum (ENTER takes " + suggestion + ")");
        w.write_line("");
        w.write_line("      Assignment file:  ", LineEnd::Stay);
        std::string name = trimmed(w.read_line());
        std::string path = name.empty() ? suggestion : beside_spectrum(name);
        AssignmentFile file = read_assignments(path);
        if (!file.error.empty()) {
            w.set_text_color(12);
            w.write_line("     " + path + ": " + file.error);
            press_enter();
            continue;
        }
        if (file.exists) {
            w.write_line("     " + path + " exists with " + std::to_string(file.lines.size()) +
                             " lines: add the assignments to it (Y/N)? ",
                         LineEnd::Stay);
            std::int16_t k = 0;
            while (k != 'Y' && k != 'y' && k != 'N' && k != 'n')
                k = INKEY();
            if (k == 'N' || k == 'n') continue;
        }
        s.settings.lin_path = path;
        mark_from_file(file);
        w.set_text_cursor(false);
        return true;
    }
}

} // namespace

void key_settings(ViewerState& v) {
    auto& w = window();
    auto& set = catalog_session().settings;
    dialog_screen("C A T A L O G U E   S E T T I N G S");
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
    std::string name = trimmed(w.read_line());
    if (!name.empty()) {
        std::string path = beside_spectrum(name);
        AssignmentFile file = read_assignments(path);
        if (!file.error.empty()) {
            w.set_text_color(12);
            w.write_line("     " + path + ": " + file.error + " - the file is not changed");
            press_enter();
        } else {
            set.lin_path = path;
            mark_from_file(file);
        }
    }
    w.set_text_cursor(false);
    screen_redraw(v);
}

namespace {

// ---- T: assign ------------------------------------------------------------------------

// Several predictions within the tolerance: the operator picks one by its number.
std::optional<LineRef> choose_prediction(ViewerState& v, const std::vector<LineRef>& found,
                                         const Measured& m) {
    auto& w = window();
    auto& s = catalog_session();
    const std::size_t shown_count = std::min<std::size_t>(found.size(), 9);
    std::optional<LineRef> chosen;
    for (;;) {
        dialog_screen("A S S I G N   M E A S U R E D   L I N E");
        w.write_line("     Measured frequency: " + fmt_fixed(m.freq, 14, 4) + " +-" +
                     fmt_fixed(m.error, 7, 4));
        w.write_line("     " + std::to_string(found.size()) + " predictions lie within " +
                     trimmed(fmt_fixed(s.settings.tolerance, 14, 4)) + " of it" +
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

LastAssignment g_last_assignment;

} // namespace

void key_assign(ViewerState& v) {
    auto& s = catalog_session();
    auto m = measurement_to_assign();
    if (!m) {
        message(v, " No measurement to assign: measure the line with O (or 9, =) first");
        return;
    }
    auto found = predictions_within(s, m->freq, s.settings.tolerance);
    if (found.empty()) {
        message(v,
                " No predicted line within " + trimmed(fmt_fixed(s.settings.tolerance, 14, 4)) +
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
        message(v, " Not assigned: the quantum numbers of this prediction cannot be read",
                "  " + quantum_number_text(line));
        return;
    }
    const double unc = s.settings.fixed_unc > 0 ? s.settings.fixed_unc : m->error;
    if (!(unc > 0)) {
        // A zero uncertainty would give the line an infinite weight in the fit.
        message(v, " Not assigned: the measurement has no error; set a fixed uncertainty with D");
        return;
    }
    auto record = lin_line(q, m->freq, unc, s.settings.weight, trim_right(store().FNAME), s.unit);
    if (!record) {
        message(v, " Not assigned: a quantum number does not fit the assignment file's fields");
        return;
    }
    if (s.settings.lin_path.empty()) {
        if (!choose_lin_file(r.catalog)) return;
        screen_redraw(v);
    }
    const std::string& path = s.settings.lin_path;
    // Read again: the file may have been edited since, and those edits are kept.
    AssignmentFile file = read_assignments(path);
    if (!file.error.empty()) {
        message(v, " Not assigned: " + path + ": " + file.error, {}, 12);
        return;
    }
    auto same = std::find_if(file.lines.begin(), file.lines.end(),
                             [&](const std::string& l) { return same_transition(l, q); });
    bool replaced = same != file.lines.end();
    if (replaced) {
        if (!ask_yes(" This transition is assigned already: replace its line (Y/N) ? ")) {
            message(v, " Not assigned: the assignment file keeps its line", "  " + *same);
            return;
        }
        *same = *record;
    } else {
        file.lines.push_back(*record);
    }
    std::string error = write_assignments(path, file.lines, file.eol);
    if (!error.empty()) {
        // The reason first: a long path must not push it off the row.
        message(v, " Not assigned, the assignment file could not be written: " + error,
                " " + path + " is as it was", 12);
        return;
    }
    s.mark_assigned(r);
    g_last_assignment = LastAssignment{*record, m->freq};
    plot_redraw(v);
    std::string row2 = " ";
    row2 += fmt_fixed(m->freq, 14, 4);
    row2 += " +-";
    row2 += fmt_fixed(unc, 7, 4);
    row2 += "   o-c";
    row2 += fmt_fixed(m->freq - s.frequency(r), 9, 4);
    message(v,
            std::string(replaced ? " Replaced in " : " Assigned in ") + path + ": " +
                quantum_number_text(line),
            row2);
}

const LastAssignment& last_assignment() {
    return g_last_assignment;
}

void note_measuring_key(std::int16_t code) {
    MeasureNote& n = note();
    switch (code) {
    case 'O':
    case 'o':
        n.key = 'O';
        n.before = measurement_memory();
        n.identify_measured = true;
        break;
    case '9':
    case '(':
        n.key = '9';
        n.before = measurement_memory();
        break;
    case '=':
    case '+':
        n.key = '=';
        break;
    default:
        break;
    }
}

void catalog_overlay(const ViewerState& v) {
    open_startup_catalogs();
    const auto& st = store();
    catalog_session().choose_unit(st.FREQ[1], st.FREQ[static_cast<std::size_t>(st.NPTS)]);
    if (!shown()) return;
    auto& w = window();
    draw_overlay(w, catalog_session(), v.FLOW, v.FHIGH, plot_width(), plot_height());
    // The frame and the trace are drawn next, in the plot redraw's own colour.
    w.set_color(15);
    w.set_write_mode(WriteMode::Copy);
    w.set_line_style(0xFFFF);
}

void catalog_identification(const ViewerState& v, bool in_plot_redraw) {
    auto& s = catalog_session();
    MeasureNote& n = note();
    auto& w = window();
    const int row = store().SCREEN.NROWS;
    if (!n.notice.empty()) {
        w.set_text_color(12);
        w.set_text_background(7);
        w.set_text_position(row, 1);
        w.write_chars(pad(n.notice, 80).substr(0, 80));
        w.set_text_color(15);
        n.notice.clear();
        return;
    }
    if (!shown()) return;
    std::optional<double> observed;
    double at = v.FCURS;
    if (in_plot_redraw && n.identify_measured) {
        if (auto m = measurement_to_assign()) {
            observed = m->freq;
            at = m->freq;
        }
    }
    n.identify_measured = false;
    auto r = nearest_prediction(s, at);
    if (!r) return;
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_position(row, 1);
    w.write_chars(identification_row(s, *r, observed));
    w.set_text_color(15);
}

} // namespace korax

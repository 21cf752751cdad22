// The overlay keys of the viewer and the glue between the catalogue library and
// the picture: C, V, v, ], [, }, {, the predicted lines drawn in the plot and
// the identification row, which takes the key-line row while catalogues are
// shown (V gives the key line back). T and D are in assignment_keys.cpp.
#include "viewer/catalog_keys.h"

#include "base/file_name.h"
#include "base/format.h"
#include "spectrum/store.h"
#include "viewer/assignment_keys.h"
#include "viewer/catalog_screens.h"
#include "viewer/display.h"
#include "viewer/file_prompt.h"
#include "viewer/lin_state.h"
#include "viewer/measure.h"
#include "window/dialog.h"
#include "window/window.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <utility>

namespace korax {

CatalogSession& catalog_session() {
    static CatalogSession session;
    return session;
}

namespace {

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

struct Opened {
    Opened(bool is_open, std::string said, std::string line = {})
        : ok(is_open), text(std::move(said)), note(std::move(line)) {}
    bool ok = false;
    std::string text; // what happened, after the file's name
    std::string note; // a line of its own after it: the comparison with the assignments
};

// Whether a name opens a catalogue that is open already: the same name once
// "." and ".." are taken out, or the same file by another path.
std::optional<std::size_t> open_already(const std::string& path) {
    namespace fs = std::filesystem;
    const auto& s = catalog_session();
    for (std::size_t i = 0; i < s.catalogs.size(); ++i) {
        std::error_code ec;
        if (fs::path(s.catalogs[i].path).lexically_normal() == fs::path(path).lexically_normal() ||
            fs::equivalent(s.catalogs[i].path, path, ec))
            return i;
    }
    return std::nullopt;
}

Opened open_catalog(const std::string& path) {
    auto& s = catalog_session();
    if (const auto i = open_already(path)) {
        // The new predictions of a fit come under the old name: read again in
        // place, and the assignments compared with them.
        Catalog c;
        const CatalogLoad load = read_catalog(path, c);
        if (!load.error.empty()) return {false, load.error + " (the catalogue read before stays)"};
        const std::size_t lines = c.size();
        c.color = s.catalogs[*i].color;
        s.catalogs[*i] = std::move(c);
        s.assigned[*i].clear();
        try {
            adopt_remembered_lin();
            if (!s.settings.lin_path.empty()) mark_from_file(s.settings.lin_path);
        } catch (const std::bad_alloc&) {
            // Only the marks of assigned lines are missing.
        }
        const ComparisonNote said = compare_with_assignments({*i});
        return {true, load_summary(lines, load) + ", read again" + assigned_summary(*i),
                said.compared
                    ? "The assignments of " + std::string(file_part(s.settings.lin_path)) +
                          " against the new predictions (' to the worst):\n" + said.text
                    : said.text};
    }
    if (s.catalogs.size() >= MAX_CATALOGS)
        return {false,
                "not opened: " + std::to_string(MAX_CATALOGS) + " catalogues are open already"};
    // Running out of memory, for the catalogue or for what the session keeps
    // of it, is a catalogue that cannot be opened: the viewer goes on with
    // what it had.
    CatalogLoad load;
    std::size_t lines = 0;
    try {
        Catalog c;
        load = read_catalog(path, c);
        if (!load.error.empty()) return {false, load.error};
        lines = c.size();
        s.add(std::move(c));
    } catch (const std::bad_alloc&) {
        // Every catalogue has its list of assigned lines, or it goes again.
        if (s.catalogs.size() > s.assigned.size()) s.catalogs.pop_back();
        return {false, std::string("cannot be opened: ") + std::strerror(ENOMEM)};
    }
    try {
        // The spectrum's folder may remember its file; then the new lines
        // are marked with the others.
        adopt_remembered_lin();
        if (!s.settings.lin_path.empty()) mark_from_file(s.settings.lin_path);
    } catch (const std::bad_alloc&) {
        // Only the marks of assigned lines are missing.
    }
    return {true, load_summary(lines, load) + assigned_summary(s.catalogs.size() - 1)};
}

} // namespace

void open_startup_catalogs(const SessionStart& start) {
    auto& s = catalog_session();
    if (s.startup_opened) return;
    s.startup_opened = true;
    std::string failures = start_catalog_state(start);
    for (const auto& name : start.catalogs) {
        Opened opened = open_catalog(name);
        // The row is short: the file's own name says enough.
        if (!opened.ok)
            failures +=
                (failures.empty() ? "" : "; ") + std::string(file_part(name)) + " " + opened.text;
    }
    measure_note().notice = failures;
}

// ---- C: open a catalogue ------------------------------------------------------------

void key_open(ViewerState& v) {
    auto& w = window();
    auto& s = catalog_session();
    for (;;) {
        open_dialog_screen(w, "L I N E   C A T A L O G U E S");
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
            typed.chosen_in_box ? typed.text : beside_spectrum(typed_name(typed.text));
        Opened opened = open_catalog(path);
        w.write_line(" ");
        const std::string said = "     " + path + (opened.ok ? ": " : " ") + opened.text;
        if (opened.ok)
            w.write_line(said);
        else
            write_red_line(w, said);
        for (std::size_t from = 0; from < opened.note.size();) {
            const std::size_t end = std::min(opened.note.find('\n', from), opened.note.size());
            w.write_line("     " + opened.note.substr(from, end - from));
            from = end + 1;
        }
        press_enter(w, PressEnter::Below);
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
        catalog_message(v, std::string(" No predicted line ") + (previous ? "below" : "above") +
                               " the cursor in this spectrum" +
                               (strong_only ? " at or above intensity " +
                                                  typed_name(fmt_fixed(s.settings.threshold, 9, 4))
                                            : ""));
        return;
    }
    move_cursor_to(v, s.frequency(*r));
}

void move_cursor_to(ViewerState& v, double f) {
    const auto& st = store();
    if (f > v.FLOW && f < v.FHIGH) {
        draw_cursor(v);
        v.FCURS = f;
        draw_cursor(v);
        v.ICURS = std::clamp(index_of_frequency(v.FCURS), std::int32_t{1}, st.NPTS);
        update_cursor_status(v);
        return;
    }
    // Off screen: the display moves to centre the line, keeping its width.
    centre_display_on(v, f);
    plot_redraw(v);
}

void centre_display_on(ViewerState& v, double f) {
    const auto& st = store();
    const double f1 = st.FREQ[1], fn = st.FREQ[static_cast<std::size_t>(st.NPTS)];
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
}

void note_measuring_key(std::int16_t code) {
    MeasureNote& n = measure_note();
    switch (code) {
    case 'O':
    case 'o':
    case 'X':
        n.key = code == 'X' ? 'X' : 'O';
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
    MeasureNote& n = measure_note();
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

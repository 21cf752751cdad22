// The table of the viewer's keys and what runs it. The classic rows come in the
// order of the viewer's key summary; the extension rows in the order of the ?
// page, which is written from them.
#include "viewer/key_table.h"

#include "base/format.h"
#include "catalog/overlay.h"
#include "viewer/assignment_keys.h"
#include "viewer/catalog_keys.h"
#include "viewer/commands.h"
#include "viewer/display.h"
#include "viewer/extension_keys.h"
#include "viewer/freqlimits.h"
#include "viewer/lookfm.h"
#include "viewer/peak_marks.h"
#include "viewer/profile_key.h"
#include "viewer/reference.h"
#include "viewer/series_view.h"
#include "window/cancel.h"
#include "window/dialog.h"
#include "window/inkey.h"

#include <algorithm>
#include <set>

namespace korax {

namespace {

// ---- commands in the form of the table ----------------------------------------

template <void (*F)(ViewerState&)> KeyOutcome plain(ViewerState& v, double) {
    F(v);
    return KeyOutcome::Done;
}

template <void (*F)(ViewerState&, double)> KeyOutcome with_amount(ViewerState& v, double amount) {
    F(v, amount);
    return KeyOutcome::Done;
}

// A measuring key, noted first so that T knows what it assigns.
template <void (*F)(ViewerState&), char Key> KeyOutcome noted(ViewerState& v, double) {
    note_measuring_key(Key);
    F(v);
    return KeyOutcome::Done;
}

// The catalogue keys other than C and D need a catalogue; without one they
// say so on the status rows and change nothing.
template <void (*F)(ViewerState&)> KeyOutcome with_catalogue(ViewerState& v, double) {
    if (catalog_session().empty()) {
        Window& w = window();
        write_message_rows(w, " No line catalogue is open: C opens one", "", 1);
        w.set_text_color(15);
        v.STALE = true;
        return KeyOutcome::Refused;
    }
    F(v);
    return KeyOutcome::Done;
}

// A command that may refuse (it says why on the status rows): nothing is
// redrawn then.
template <bool (*F)(ViewerState&)> KeyOutcome refusable(ViewerState& v, double) {
    return F(v) ? KeyOutcome::Done : KeyOutcome::Refused;
}
template <bool (*F)(ViewerState&, double)>
KeyOutcome refusable_amount(ViewerState& v, double amount) {
    return F(v, amount) ? KeyOutcome::Done : KeyOutcome::Refused;
}

KeyOutcome leave(ViewerState& v, double) {
    return key_exit(v) ? KeyOutcome::Leave : KeyOutcome::Done;
}

void overlay_on_off(ViewerState&) {
    CatalogSession& s = catalog_session();
    s.overlay_on = !s.overlay_on;
}

void stick_scale(ViewerState&) {
    CatalogSession& s = catalog_session();
    s.scale = s.scale == StickScale::Linear ? StickScale::Logarithmic : StickScale::Linear;
}

template <bool Previous, bool StrongOnly> void jump(ViewerState& v) {
    key_jump(v, Previous, StrongOnly);
}

constexpr std::int16_t KEY_CTRL_Q = 17;
constexpr std::int16_t KEY_TAB = 9;
constexpr std::int16_t KEY_PGUP = -73, KEY_PGDN = -81, KEY_UP = -72, KEY_DOWN = -80;
constexpr std::int16_t WHEEL_UP = -KEY_WHEEL_UP, WHEEL_DOWN = -KEY_WHEEL_DOWN, CLICK = -KEY_CLICK;

constexpr KeySet C = KeySet::Classic, X = KeySet::Extension, L = KeySet::Catalogue;
constexpr Redraw NONE = Redraw::None, STALE = Redraw::Stale, PLOT = Redraw::Plot,
                 SCREEN = Redraw::Screen, FULL = Redraw::Full;

// The set column: C classic, X extension, L line catalogue. The last column,
// after the name, is the row's line on the ? page.
// clang-format off
const ViewerKey KEYS[] = {
    // code       command                                 amount       redraw  change  set  name
    {'A',        with_amount<key_shift_lower>,            0.5,         PLOT,   "", C, "A", ""},
    {'a',        with_amount<key_shift_lower>,            0.1,         PLOT,   "", C, "A", ""},
    {'S',        with_amount<key_shift_higher>,           0.5,         PLOT,   "", C, "S", ""},
    {'s',        with_amount<key_shift_higher>,           0.1,         PLOT,   "", C, "S", ""},
    {'E',        with_amount<key_zoom_in>,                0.25,        PLOT,   "", C, "E", ""},
    {'e',        with_amount<key_zoom_in>,                0.45,        PLOT,   "", C, "E", ""},
    {'Q',        with_amount<key_zoom_out>,               0.5,         PLOT,   "", C, "Q", ""},
    {'q',        with_amount<key_zoom_out>,               0.1,         PLOT,   "", C, "Q", ""},
    {'W',        with_amount<key_scale_vertical>,         -0.25,       PLOT,   "", C, "W", ""},
    {'w',        with_amount<key_scale_vertical>,         -VFACTOR_5,  PLOT,   "", C, "W", ""},
    {'Z',        with_amount<key_scale_vertical>,         0.25,        PLOT,   "", C, "Z", ""},
    {'z',        with_amount<key_scale_vertical>,         VFACTOR_5,   PLOT,   "", C, "Z", ""},
    {'#',        with_amount<key_shift_vertical>,         -VFACTOR_10, PLOT,   "", C, "#", ""},
    {'3',        with_amount<key_shift_vertical>,         -VFACTOR_2,  PLOT,   "", C, "3", ""},
    {'@',        with_amount<key_shift_vertical>,         VFACTOR_10,  PLOT,   "", C, "@", ""},
    {'2',        with_amount<key_shift_vertical>,         VFACTOR_2,   PLOT,   "", C, "2", ""},
    {'-',        plain<key_invert>,                       0,           PLOT,   "inversion", C, "-", ""},
    {'_',        plain<key_invert>,                       0,           PLOT,   "inversion", C, "-", ""},
    {'F',        plain<frequency_limits_screen>,          0,           FULL,   "", C, "F", ""},
    {'f',        plain<frequency_limits_screen>,          0,           FULL,   "", C, "F", ""},
    {'K',        with_amount<key_cursor>,                 -8,          NONE,   "", C, "K", ""},
    {'k',        with_amount<key_cursor>,                 -1,          NONE,   "", C, "K", ""},
    {'L',        with_amount<key_cursor>,                 8,           NONE,   "", C, "L", ""},
    {'l',        with_amount<key_cursor>,                 1,           NONE,   "", C, "L", ""},
    {',',        with_amount<key_cursor>,                 0,           NONE,   "", C, ",", ""},
    {'B',        plain<key_baseline>,                     0,           SCREEN, "baseline subtraction", C, "B", ""},
    {'b',        plain<key_baseline>,                     0,           SCREEN, "baseline subtraction", C, "B", ""},
    {'N',        plain<key_smoothing>,                    0,           SCREEN, "smoothing", C, "N", ""},
    {'n',        plain<key_smoothing>,                    0,           SCREEN, "smoothing", C, "N", ""},
    {'M',        plain<key_save>,                         0,           SCREEN, "", C, "M", ""},
    {'m',        plain<key_save>,                         0,           SCREEN, "", C, "M", ""},
    {'H',        plain<key_help>,                         0,           SCREEN, "", C, "H", ""},
    {'h',        plain<key_help>,                         0,           SCREEN, "", C, "H", ""},
    {'I',        plain<key_information>,                  0,           SCREEN, "", C, "I", ""},
    {'i',        plain<key_information>,                  0,           SCREEN, "", C, "I", ""},
    {'O',        noted<key_measure, 'O'>,                 0,           STALE,  "", C, "O", ""},
    {'o',        noted<key_measure, 'O'>,                 0,           STALE,  "", C, "O", ""},
    {')',        plain<key_fitting_width>,                0,           SCREEN, "", C, "0", ""},
    {'0',        plain<key_fitting_width>,                0,           SCREEN, "", C, "0", ""},
    {'9',        noted<key_cursor_as_measurement, '9'>,   0,           STALE,  "", C, "9", ""},
    {'(',        noted<key_cursor_as_measurement, '9'>,   0,           STALE,  "", C, "9", ""},
    {'=',        noted<key_average, '='>,                 0,           STALE,  "", C, "=", ""},
    {'+',        noted<key_average, '='>,                 0,           STALE,  "", C, "=", ""},
    {'^',        plain<key_window_height>,                0,           Redraw::FullNewArea, "", C, "^", ""},
    // The append redraws as it goes: its refusals return to its own prompt.
    {'&',        plain<key_append>,                       0,           NONE,   "append", C, "&", ""},
    {'G',        plain<key_gle>,                          0,           SCREEN, "", C, "G", ""},
    {'g',        plain<key_gle>,                          0,           SCREEN, "", C, "G", ""},
    {'R',        plain<key_restore>,                      0,           PLOT,   "restore", C, "R", ""},
    {'r',        plain<key_restore>,                      0,           PLOT,   "restore", C, "R", ""},
    {KEY_HOME,   plain<key_home>,                         0,           PLOT,   "", C, "HOME", ""},
    {KEY_END,    plain<key_end>,                          0,           PLOT,   "", C, "END", ""},
    {'P',        plain<key_mark_points>,                  0,           NONE,   "", C, "P", ""},
    {'p',        plain<key_mark_points>,                  0,           NONE,   "", C, "P", ""},
    {KEY_ENTER,  leave,                                   0,           NONE,   "", C, "ENTER", ""},

    {'U',        plain<key_undo>,                         0,           NONE,   "", X, "U",
     "         U,Y - undo / redo the last change of the spectrum (8 steps)"},
    {'u',        plain<key_undo>,                         0,           NONE,   "", X, "U", ""},
    {'Y',        plain<key_redo>,                         0,           NONE,   "", X, "Y", ""},
    {'y',        plain<key_redo>,                         0,           NONE,   "", X, "Y", ""},
    {'*',        plain<key_autoscale>,                    0,           PLOT,   "", X, "*",
     "       *,%,| - fit vertical scale / whole spectrum / PEAKFINDER marks on-off"},
    {'%',        plain<key_whole_spectrum>,               0,           PLOT,   "", X, "%", ""},
    {'|',        plain<key_peak_marks>,                   0,           PLOT,   "", X, "|", ""},
    {KEY_ESCAPE, nullptr,                                 0,           NONE,   "", X, "Esc",
     "     Esc,Tab - leave a prompt or level setting / file-open box at & (C: ENTER)"},
    {KEY_TAB,    nullptr,                                 0,           NONE,   "", X, "Tab", ""},
    {KEY_CTRL_C, plain<key_copy_measurement>,             0,           NONE,   "", X, "Ctrl+C",
     "  Ctrl+C/P/Q - copy the measurement / save a picture / close the window"},
    {KEY_CTRL_P, plain<key_save_picture>,                 0,           NONE,   "", X, "Ctrl+P", ""},
    {KEY_CTRL_Q, nullptr,                                 0,           NONE,   "", X, "Ctrl+Q", ""},
    // A notch narrows the display to 90 % or widens it to 120 %, as e and q.
    {WHEEL_UP,   with_amount<key_wheel_zoom>,             0.9,         PLOT,   "", X, "Wheel",
     " Wheel,click - zoom in/out about the pointer / move the cursor there"},
    {WHEEL_DOWN, with_amount<key_wheel_zoom>,             1.2,         PLOT,   "", X, "Wheel", ""},
    {CLICK,      plain<key_click>,                        0,           NONE,   "", X, "click", ""},
    {'X',        noted<key_profile_fit, 'X'>,             0,           STALE,  "", X, "X",
     "         X,x - fit the line's profile, flags too / profile, lines, widths"},
    {'x',        plain<key_profile_settings>,             0,           SCREEN, "", X, "x", ""},
    {'<',        plain<key_reference_open>,               0,           NONE,   "", X, "<",
     "         <,> - open a reference spectrum over this one / switch it off"},
    {'>',        refusable<key_reference_off>,            0,           SCREEN, "", X, ">", ""},
    // The reference grows or shrinks by a quarter, or moves by 5 % of the range.
    {KEY_PGUP,   refusable_amount<key_reference_scale>,   1.25,        PLOT,   "", X, "PGUP",
     "   PGUP,PGDN - the reference taller / shorter; the arrows up, down shift it"},
    {KEY_PGDN,   refusable_amount<key_reference_scale>,   0.8,         PLOT,   "", X, "PGDN", ""},
    {KEY_UP,     refusable_amount<key_reference_shift>,   0.05,        PLOT,   "", X, "Up", ""},
    {KEY_DOWN,   refusable_amount<key_reference_shift>,   -0.05,       PLOT,   "", X, "Down", ""},
    {'/',        refusable<key_reference_fit>,            0,           NONE,   "", X, "/",
     "           / - fit the reference's scale to the trace shown (difference mode: k)"},
    {'~',        refusable<key_difference>,               0,           SCREEN, "", X, "~",
     "       ~,:,! - show main - k x reference on-off / type k / take it (U undoes)"},
    {':',        refusable<key_difference_k>,             0,           SCREEN, "", X, ":", ""},
    {'!',        refusable<key_difference_take>,          0,           NONE,   "difference", X, "!", ""},

    {'C',        plain<key_open>,                         0,           NONE,   "", L, "C",
     "         C,V - open a line catalogue / overlay on-off, v: linear-log sticks"},
    {'c',        plain<key_open>,                         0,           NONE,   "", L, "C", ""},
    {'V',        with_catalogue<overlay_on_off>,          0,           SCREEN, "", L, "V", ""},
    {'v',        with_catalogue<stick_scale>,             0,           PLOT,   "", L, "v", ""},
    {']',        with_catalogue<jump<false, false>>,      0,           NONE,   "", L, "]",
     "     ],[ },{ - cursor to the next/previous predicted line / above the threshold"},
    {'[',        with_catalogue<jump<true, false>>,       0,           NONE,   "", L, "[", ""},
    {'}',        with_catalogue<jump<false, true>>,       0,           NONE,   "", L, "}", ""},
    {'{',        with_catalogue<jump<true, true>>,        0,           NONE,   "", L, "{", ""},
    {'T',        with_catalogue<key_assign>,              0,           NONE,   "", L, "T",
     "         T,D - assign the measured frequency / catalogue settings"},
    {'t',        with_catalogue<key_assign>,              0,           NONE,   "", L, "T", ""},
    {'D',        plain<key_settings>,                     0,           NONE,   "", L, "D", ""},
    {'d',        plain<key_settings>,                     0,           NONE,   "", L, "D", ""},
    // The view redraws the viewer as it leaves; a series that cannot be shown
    // says why on the status rows, which stay.
    {'J',        with_catalogue<key_series_view>,         0,           NONE,   "", L, "J",
     "         J,j - the series view of the nearest prediction; ? in it lists its keys"},
    {'j',        with_catalogue<key_series_view>,         0,           NONE,   "", L, "J", ""},
    {';',        with_catalogue<key_reload_catalogs>,     0,           NONE,   "", L, ";",
     "         ;,' - read the catalogues again, o-c of the assignments / to the worst"},
    {'\'',       with_catalogue<key_worst_assignment>,    0,           NONE,   "", L, "'", ""},

    {'?',        plain<key_extension_page>,               0,           SCREEN, "", KeySet::ThisPage, "?",
     "           ? - this page, also from the help screen"},
};
// clang-format on

void redraw(ViewerState& v, Redraw what) {
    switch (what) {
    case Redraw::None:
        break;
    case Redraw::Stale:
        v.STALE = true;
        break;
    case Redraw::Plot:
        plot_redraw(v);
        break;
    case Redraw::Screen:
        screen_redraw(v);
        break;
    case Redraw::Full:
        full_redraw(v, false);
        break;
    case Redraw::FullNewArea:
        full_redraw(v, true);
        break;
    }
}

// The key name of a fault report.
std::string key_label(const ViewerKey& k) {
    if (k.code > 32 && k.code < 127) return std::string(1, static_cast<char>(k.code));
    return std::string(k.name) + " (code " + std::to_string(k.code) + ")";
}

} // namespace

std::span<const ViewerKey> viewer_keys() {
    return KEYS;
}

const ViewerKey* find_viewer_key(std::int16_t code) {
    for (const ViewerKey& k : KEYS)
        if (k.code == code) return &k;
    return nullptr;
}

bool run_viewer_key(ViewerState& v, const ViewerKey& key) {
    if (!key.command) return true;
    if (refused_in_difference_mode(v, key.code)) return true;
    switch (key.command(v, key.amount)) {
    case KeyOutcome::Leave:
        return false;
    case KeyOutcome::Refused:
        return true;
    case KeyOutcome::Done:
        break;
    }
    redraw(v, key.redraw);
    return true;
}

void write_extension_page(Window& w, std::span<const ViewerKey> keys) {
    std::vector<std::string_view> lines;
    const ViewerKey* previous = nullptr;
    for (const ViewerKey& k : keys) {
        if (k.set == KeySet::Classic || k.page_line.empty()) continue;
        if (previous && previous->set != k.set) lines.emplace_back();
        lines.push_back(k.page_line);
        previous = &k;
    }
    w.write_line("");
    w.write_line(heading("E X T E N S I O N   K E Y S"));
    w.write_line("");
    // A window too short for the page shows it in two, the first waiting for
    // ENTER, as the help screen does in 17 rows.
    const std::size_t room = static_cast<std::size_t>(std::max(w.rows() - 4, 1));
    const bool two_pages = lines.size() + 4 > static_cast<std::size_t>(w.rows());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (two_pages && i == room) {
            w.write_line(blanks(15) + "Press ENTER ", LineEnd::Stay);
            wait_for_enter();
            w.write_line("");
            w.write_line("");
        }
        w.write_line(lines[i]);
    }
    w.write_line(blanks(7) + "ENTER - exits this page", LineEnd::Stay);
}

std::vector<std::string> key_table_faults(std::span<const ViewerKey> keys) {
    std::vector<std::string> faults;
    std::set<std::int16_t> seen, classic;
    for (const ViewerKey& k : keys)
        if (k.set == KeySet::Classic) classic.insert(k.code);
    for (const ViewerKey& k : keys) {
        if (!seen.insert(k.code).second) faults.push_back(key_label(k) + " is bound twice");
        if (k.set != KeySet::Classic && classic.count(k.code))
            faults.push_back("the extension key " + key_label(k) + " takes a classic key");
    }
    return faults;
}

std::vector<std::string> keys_missing_from_man_page(std::span<const ViewerKey> keys,
                                                    std::string_view man_page) {
    std::set<std::string> listed;
    for (std::size_t at = 0; at < man_page.size();) {
        const std::size_t end = std::min(man_page.find('\n', at), man_page.size());
        std::string_view line = man_page.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(".B ")) continue;
        // "\-" is the man page's minus; quotes and parentheses only group.
        std::string text;
        for (std::size_t i = 3; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '\\' && i + 1 < line.size() && line[i + 1] == '-') continue;
            if (c != '"' && c != '(' && c != ')') text += c;
        }
        for (std::size_t from = 0; from < text.size();) {
            const std::size_t blank = std::min(text.find(' ', from), text.size());
            if (blank > from) listed.insert(text.substr(from, blank - from));
            from = blank + 1;
        }
    }
    std::vector<std::string> missing;
    for (const ViewerKey& k : keys)
        if (!listed.count(std::string(k.name)) &&
            std::find(missing.begin(), missing.end(), k.name) == missing.end())
            missing.emplace_back(k.name);
    return missing;
}

} // namespace korax

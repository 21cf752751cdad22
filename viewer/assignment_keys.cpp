// The assignment keys of the viewer: T writes the measurement just made, with
// the prediction it belongs to, into the assignment file; D sets the tolerance,
// threshold, uncertainty, weight and the file itself.
#include "viewer/assignment_keys.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"
#include "catalog/assignments.h"
#include "spectrum/store.h"
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
#include <cctype>
#include <functional>
#include <limits>
#include <set>
#include <string>

namespace korax {

namespace {

LastAssignment g_last_assignment;

// ---- D: settings --------------------------------------------------------------------

// One setting: the typed value, or the shown one kept for an empty answer. An
// answer that cannot be read or is out of range asks again.
double ask_value(const std::string& prompt, double now, bool (*valid)(double)) {
    return ask_setting(window(), prompt, typed_name(fmt_fixed(now, 14, 4)), now,
                       [&](const std::string& typed) -> std::optional<double> {
                           auto value = read_real(typed);
                           if (value && valid(*value)) return value;
                           return std::nullopt;
                       });
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

// The numbers typed for a blend: "1 3", "1-2", "2-3 5" or "A" for all of the
// `count` shown, in the list's order; nullopt for an answer of another form
// (one number is read as it always was).
std::optional<std::vector<std::size_t>> blend_choice(std::string_view typed, std::size_t count) {
    const std::string text = typed_name(typed);
    std::vector<std::size_t> picked;
    if (text == "A" || text == "a") {
        for (std::size_t i = 0; i < count; ++i)
            picked.push_back(i);
        return picked;
    }
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = std::min(text.find(' ', at), text.size());
        if (end > at) words.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (words.empty() || (words.size() == 1 && words[0].find('-') == std::string::npos))
        return std::nullopt;
    std::set<std::size_t> chosen;
    for (const std::string& word : words) {
        const auto dash = word.find('-');
        const auto from = read_int<int>(word.substr(0, dash), 5);
        const auto to = dash == std::string::npos ? from : read_int<int>(word.substr(dash + 1), 5);
        if (!from || !to || *from < 1 || *to < *from || static_cast<std::size_t>(*to) > count ||
            word.front() == '-' || word.back() == '-')
            return std::vector<std::size_t>{}; // asks again
        for (int k = *from; k <= *to; ++k)
            chosen.insert(static_cast<std::size_t>(k - 1));
    }
    return std::vector<std::size_t>(chosen.begin(), chosen.end());
}

// A measured frequency and its error, in 14 and 7 columns with at least 4
// decimals, and as many as the error's two significant digits need.
std::string measured_text(double freq, double unc) {
    return fmt_widened(freq, 14, 4, value_decimals(freq, unc, 4)) + " +-" +
           fmt_widened(unc, 7, 4, std::max(4, error_decimals(unc)));
}

// An o-c of a measurement to the decimals of its frequency.
std::string o_c_text(double freq, double unc, double predicted) {
    return fmt_widened(freq - predicted, 9, 4, value_decimals(freq, unc, 4));
}

// One row of a list of predictions: the number to type, |o-c| over the
// combined uncertainty, and the identification row (80 columns in all).
std::string ranked_row(const std::string& number, const RankedPrediction& p, double observed) {
    const auto& s = catalog_session();
    return pad(number, 2) + fmt_fixed(std::min(p.score, 999.9), 5, 1) + " " +
           std::string(trim_right(identification_row(s, p.line, observed).substr(0, 72)));
}

// Several predictions within the tolerance: the operator picks one by its
// number, or several for a blend of one measured line; ranked best first.
std::vector<LineRef> choose_prediction(ViewerState& v, const std::vector<RankedPrediction>& found,
                                       const Measured& m) {
    auto& w = window();
    auto& s = catalog_session();
    const std::size_t shown_count = std::min<std::size_t>(found.size(), 9);
    std::vector<LineRef> chosen;
    for (;;) {
        open_dialog_screen(window(), "A S S I G N   M E A S U R E D   L I N E");
        w.write_line("     Measured frequency: " + measured_text(m.freq, m.error));
        w.write_line("     " + std::to_string(found.size()) + " predictions lie within " +
                     typed_name(fmt_fixed(s.settings.tolerance, 14, 4)) + " of it" +
                     (found.size() > shown_count ? "; the 9 best:" : ":"));
        w.write_line("  |o-c|/unc, best first");
        for (std::size_t i = 0; i < shown_count; ++i)
            w.write_line(ranked_row(std::to_string(i + 1), found[i], m.freq));
        w.write_line("     Several numbers (1 3, 1-2, A for all) assign the line as a blend");
        w.write_line("     Number of the prediction to assign (ENTER = none): ", LineEnd::Stay);
        const std::string typed = w.read_line();
        if (auto several = blend_choice(typed, shown_count)) {
            if (several->empty()) continue;
            for (std::size_t i : *several)
                chosen.push_back(found[i].line);
            break;
        }
        auto answer = read_int<int>(typed, 5);
        if (!answer) continue;
        if (*answer == 0) break;
        if (*answer >= 1 && static_cast<std::size_t>(*answer) <= shown_count) {
            chosen.push_back(found[static_cast<std::size_t>(*answer - 1)].line);
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
    // A comparison was of the lines marked before.
    forget_comparison();
    // Read up to a line that is not a record, if there is one: marking only
    // shows, it changes nothing.
    std::set<std::array<int, 12>> recorded;
    (void)scan_assignments(path, [&](std::string_view line, std::string_view) {
        // A blank line would read as a record of zeros.
        if (line.find_first_not_of(" \t") == std::string_view::npos) return true;
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
    set.equal_weights = ask_setting(w, "     Weights of a blend, I by intensity or E equal",
                                    set.equal_weights ? "E" : "I", set.equal_weights,
                                    [](const std::string& typed) -> std::optional<bool> {
                                        if (typed == "I" || typed == "i") return false;
                                        if (typed == "E" || typed == "e") return true;
                                        return std::nullopt;
                                    });
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

namespace {

using Pending = PendingRecord;

// The prediction's quantum numbers, or a message why they cannot be written.
std::optional<QuantumNumbers> readable_numbers(ViewerState& v, LineRef r) {
    const PredictedLine& line = catalog_session().line(r);
    QuantumNumbers q = quantum_numbers(line);
    if (q.ok) return q;
    catalog_message(v, " Not assigned: the quantum numbers of this prediction cannot be read",
                    "  " + quantum_number_text(line));
    return std::nullopt;
}

// The uncertainty written for a measurement of `error`: D's fixed one when set.
std::optional<double> written_uncertainty(ViewerState& v, double error) {
    const auto& set = catalog_session().settings;
    const double unc = set.fixed_unc > 0 ? set.fixed_unc : error;
    if (unc > 0) return unc;
    // A zero uncertainty would give the line an infinite weight in the fit.
    catalog_message(v,
                    " Not assigned: the measurement has no error; set a fixed uncertainty with D");
    return std::nullopt;
}

std::optional<std::vector<Assignment>> records_of(ViewerState& v,
                                                  const std::vector<Pending>& pending) {
    auto& s = catalog_session();
    std::vector<Assignment> records;
    for (const Pending& p : pending) {
        auto record = lin_line(p.q, p.freq, p.unc, p.weight, trim_right(store().FNAME), s.unit,
                               p.weight_decimals);
        if (!record) {
            catalog_message(
                v, " Not assigned: a quantum number does not fit the assignment file's fields");
            return std::nullopt;
        }
        records.push_back({p.q, *record});
    }
    return records;
}

// One of the letters of `keys` (upper case), read as single keys on the
// status row like the viewer's exit question.
char ask_letter(const std::string& question, std::string_view keys) {
    auto& w = window();
    w.set_text_color(15);
    w.set_text_background(12);
    w.set_text_position(1, 1);
    w.write_chars(pad(question, 80).substr(0, 80));
    w.set_text_background(7);
    w.set_text_position(2, 1);
    w.write_chars(blanks(80));
    for (;;) {
        const std::int16_t k = INKEY();
        if (k > 0 && k < 128) {
            const char c = static_cast<char>(std::toupper(k));
            if (keys.find(c) != std::string_view::npos) return c;
        }
    }
}

void show_write_trouble(const AssignOutcome& done) {
    // In place, but the folder could not be synced (or a temporary stayed).
    if (done.text.empty()) return;
    auto& w = window();
    w.set_text_color(12);
    w.set_text_background(7);
    w.set_text_position(2, 1);
    w.write_chars(pad(" " + error_lines(done.text).front(), 80).substr(0, 80));
    w.set_text_color(15);
}

// R at the "assigned already" question: the transition's line leaves the
// file; the rest of its blend goes too or stays, weighted again, as the
// operator says.
void remove_from_file(ViewerState& v, const QuantumNumbers& q, std::size_t blend,
                      const std::string& text, const std::function<void()>& waiting,
                      const std::function<void()>& redraw) {
    auto& s = catalog_session();
    const std::string& path = s.settings.lin_path;
    bool whole = false;
    if (blend > 1) {
        const std::string others = std::to_string(blend - 1);
        whole = ask_letter(" Remove the other " + others + " of its blend too (Y), or keep " +
                               (blend > 2 ? "them" : "it") + " re-weighted (N) ? ",
                           "YN") == 'Y';
    }
    const AssignOutcome done = remove_assignment(path, q, whole, waiting);
    if (done.status != AssignStatus::Written) {
        const std::string why =
            done.status == AssignStatus::Missing ? "the line is gone from the file" : done.text;
        catalog_message(v, " Not removed: " + why, " " + path + " is as it was", 12);
        return;
    }
    // Unmarked from what was removed: reading the file again could fail
    // after it is in place, and the marks would not say so.
    for (std::size_t c = 0; c < s.catalogs.size(); ++c)
        std::erase_if(s.assigned[c], [&](std::size_t k) {
            const QuantumNumbers line_q = quantum_numbers(s.catalogs[c].lines()[k]);
            return std::find(done.removed.begin(), done.removed.end(), transition_fields(line_q)) !=
                   done.removed.end();
        });
    redraw();
    std::string row2 =
        done.blend <= 1 ? std::string()
        : whole         ? " its blend's other " + std::to_string(blend - 1) + " line(s) removed too"
                        : " its blend's other " + std::to_string(blend - 1) +
                      " line(s) kept, their weights summing to 1 again";
    catalog_message(v, " Removed from " + path + ": " + text, row2);
    show_write_trouble(done);
}

} // namespace

// Writes `pending` (one record, a blend of one measured line, the lines of
// one profile fit, or the members of a series) in one write of the
// assignment file, asking first when one of their transitions is there
// already. What happened is on the rows.
std::optional<RecordsWritten> write_records(ViewerState& v,
                                            const std::vector<PendingRecord>& pending,
                                            RecordsKind kind, const std::function<void()>& redraw) {
    auto& s = catalog_session();
    const bool blend = kind == RecordsKind::Blend;
    auto records = records_of(v, pending);
    if (!records) return std::nullopt;
    if (!lin_file_ready()) {
        if (!choose_lin_file(pending.front().r.catalog)) return std::nullopt;
        screen_redraw(v);
    }
    const std::string& path = s.settings.lin_path;
    // Read again under the file's lock: the file may have been edited since,
    // or be written by another session right now, and what they wrote is kept.
    const auto waiting = [&] {
        catalog_message(v, " Waiting for " + path + ": another program is writing it");
        window().flush();
    };
    const std::string first_text = quantum_number_text(s.line(pending.front().r));
    AssignOutcome done = write_assignments(path, *records, false, waiting);
    std::string previous;
    if (done.status == AssignStatus::AssignedAlready) {
        previous = done.line;
        char answer = 'N';
        if (pending.size() > 1)
            answer = ask_letter(" A transition of these is assigned already: replace its line "
                                "(Y/N) ? ",
                                "YN");
        else if (done.blend > 1)
            answer = ask_letter(" This transition is in a blend of " + std::to_string(done.blend) +
                                    " lines: update them all (Y/N), R removes it ? ",
                                "YNR");
        else
            answer = ask_letter(
                " This transition is assigned already: replace its line (Y/N), R removes it ? ",
                "YNR");
        if (answer == 'R') {
            remove_from_file(v, pending.front().q, done.blend, first_text, waiting, redraw);
            return std::nullopt;
        }
        if (answer != 'Y') {
            catalog_message(v, " Not assigned: the assignment file keeps its line",
                            "  " + done.line);
            return std::nullopt;
        }
        done = write_assignments(path, *records, true, waiting);
    }
    if (done.status != AssignStatus::Written) {
        // The reason first: a long path must not push it off the row.
        catalog_message(v, " Not assigned: " + done.text, " " + path + " is as it was", 12);
        return std::nullopt;
    }
    for (const Pending& p : pending)
        s.mark_assigned(p.r);
    g_last_assignment = LastAssignment{records->front().record, pending.front().freq};
    redraw();
    const Pending& p = pending.front();
    std::string row1, row2 = " " + measured_text(p.freq, p.unc);
    if (pending.size() == 1) {
        row1 = done.replaced && done.blend > 1
                   ? " Updated the blend of " + std::to_string(done.blend) + " lines in "
                   : std::string(done.replaced ? " Replaced in " : " Assigned in ");
        row1 += path + ": " + first_text;
        row2 += "   o-c" + o_c_text(p.freq, p.unc, s.frequency(p.r));
    } else if (blend) {
        row1 = " Assigned a blend of " + std::to_string(pending.size()) + " lines in " + path +
               ": " + first_text + " ...";
        row2 += "   weights";
        for (const Pending& q : pending)
            row2 += " " + weight_text(q.weight, q.weight_decimals);
    } else {
        row1 = " Assigned " + std::to_string(pending.size()) +
               (kind == RecordsKind::Series ? " members of the series in " : " fitted lines in ") +
               path + ": " + first_text + " ...";
        row2 = " o-c";
        for (const Pending& q : pending)
            row2 += o_c_text(q.freq, q.unc, s.frequency(q.r));
    }
    catalog_message(v, row1, row2);
    show_write_trouble(done);
    return RecordsWritten{std::move(done), std::move(previous)};
}

namespace {

void write_pending(ViewerState& v, const std::vector<Pending>& pending, bool blend) {
    (void)write_records(v, pending, blend ? RecordsKind::Blend : RecordsKind::Measurement,
                        [&v] { plot_redraw(v); });
}

// The lines of a profile fit of a blend, each to its own prediction: lines in
// the order of their best score, each taking its best-ranked prediction that
// no other line took. A line without one is left out (nullopt).
std::vector<std::optional<LineRef>> fitted_predictions(const std::vector<MeasuredLine>& lines) {
    auto& s = catalog_session();
    std::vector<std::vector<RankedPrediction>> ranked;
    for (const MeasuredLine& l : lines)
        ranked.push_back(rank_predictions(s, predictions_within(s, l.freq, s.settings.tolerance),
                                          l.freq, l.error));
    std::vector<std::size_t> order(lines.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const auto best = [&](std::size_t i) {
        return ranked[i].empty() ? std::numeric_limits<double>::infinity() : ranked[i][0].score;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return best(a) < best(b); });
    std::vector<std::optional<LineRef>> chosen(lines.size());
    std::vector<LineRef> taken;
    for (std::size_t i : order)
        for (const RankedPrediction& p : ranked[i])
            if (std::find(taken.begin(), taken.end(), p.line) == taken.end()) {
                chosen[i] = p.line;
                taken.push_back(p.line);
                break;
            }
    return chosen;
}

// T after a profile fit of several lines: what each line would be assigned
// to, and the operator's choice. true: handled (written, refused or not
// wanted); false: assign only the line nearest the cursor, as for one line.
bool assign_fitted_lines(ViewerState& v, const Measured& m) {
    auto& w = window();
    auto& s = catalog_session();
    const auto chosen = fitted_predictions(m.components);
    std::vector<Pending> pending;
    for (std::size_t i = 0; i < m.components.size(); ++i)
        if (chosen[i]) {
            auto q = readable_numbers(v, *chosen[i]);
            if (!q) return true;
            auto unc = written_uncertainty(v, m.components[i].error);
            if (!unc) return true;
            pending.push_back({*chosen[i], *q, m.components[i].freq, *unc, s.settings.weight, 4});
        }
    if (pending.empty()) return false;
    open_dialog_screen(window(), "A S S I G N   T H E   F I T T E D   L I N E S");
    w.write_line("     The fit holds " + std::to_string(m.components.size()) +
                 " lines, each for its best prediction that no other takes:");
    w.write_line("");
    for (std::size_t i = 0; i < m.components.size(); ++i) {
        const MeasuredLine& l = m.components[i];
        if (!chosen[i]) {
            w.write_line("  " + measured_text(l.freq, l.error) + "  no prediction within " +
                         typed_name(fmt_fixed(s.settings.tolerance, 14, 4)) + ": left out");
            continue;
        }
        w.write_line("  " + measured_text(l.freq, l.error) + "  ->");
        w.write_line("    " + std::string(trim_right(
                                  identification_row(s, *chosen[i], l.freq).substr(0, 76))));
    }
    w.write_line("");
    w.write_line("     Write " +
                     (pending.size() == 1
                          ? std::string("this record")
                          : "these " + std::to_string(pending.size()) + " records") +
                     " (Y/N; N assigns the line nearest the cursor)? ",
                 LineEnd::Stay);
    const bool yes = wait_for_yes_or_no();
    w.set_text_cursor(false);
    screen_redraw(v);
    if (!yes) return false;
    write_pending(v, pending, false);
    return true;
}

} // namespace

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
    if (!m->flags.empty()) {
        // A flagged line goes into a fit of hundreds only when the operator
        // has seen why: Y assigns it, any other key leaves it.
        catalog_message(v, " The fitted line is flagged " + m->flags + ": assign it? (Y assigns)",
                        " saturated, edge, blend?, shape, low: see the help of X");
        const std::int16_t key = INKEY();
        if (key != 'Y' && key != 'y') {
            catalog_message(v, " Not assigned: the line is flagged " + m->flags);
            return;
        }
    }
    if (m->components.size() > 1 && assign_fitted_lines(v, *m)) return;
    auto found = predictions_within(s, m->freq, s.settings.tolerance);
    if (found.empty()) {
        catalog_message(v,
                        " No predicted line within " +
                            typed_name(fmt_fixed(s.settings.tolerance, 14, 4)) +
                            " of the measured frequency" +
                            fmt_widened(m->freq, 14, 4, value_decimals(m->freq, m->error, 4)),
                        " (D sets the tolerance)");
        return;
    }
    std::vector<LineRef> chosen{found.front()};
    if (found.size() > 1) {
        chosen = choose_prediction(v, rank_predictions(s, found, m->freq, m->error), *m);
        if (chosen.empty()) return;
    }
    std::vector<Pending> pending;
    for (LineRef r : chosen) {
        auto q = readable_numbers(v, r);
        if (!q) return;
        pending.push_back({r, *q, m->freq, 0, s.settings.weight, 4});
    }
    auto unc = written_uncertainty(v, m->error);
    if (!unc) return;
    if (pending.size() > 1) {
        // One measured line, several predictions: weights that share the
        // line among them, summing to 1.
        std::vector<double> lgint;
        for (const Pending& p : pending)
            lgint.push_back(s.line(p.r).lgint);
        const BlendWeights w = blend_weights(lgint, s.settings.equal_weights);
        for (std::size_t i = 0; i < pending.size(); ++i) {
            pending[i].weight = w.values[i];
            pending[i].weight_decimals = w.decimals;
        }
    }
    for (Pending& p : pending)
        p.unc = *unc;
    write_pending(v, pending, pending.size() > 1);
}

const LastAssignment& last_assignment() {
    return g_last_assignment;
}

} // namespace korax

// J: the series through the prediction nearest the cursor, its step asked on
// the status rows, and the view's key loop with its cursor, span, scale,
// strip, fit, assignment and take-back keys.
#include "viewer/series_view.h"

#include "base/format.h"
#include "catalog/assignments.h"
#include "spectrum/store.h"
#include "viewer/assignment_keys.h"
#include "viewer/catalog_keys.h"
#include "viewer/catalog_screens.h"
#include "viewer/display.h"
#include "viewer/extension_keys.h"
#include "viewer/lin_state.h"
#include "viewer/lookfm.h"
#include "viewer/profile_key.h"
#include "window/cancel.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string_view>

namespace korax {

namespace {

// Pieces of a row one after the other (g++ 12 warns falsely of an overlap
// where a literal is added to a string returned by a function).
std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (std::string_view p : pieces)
        text += p;
    return text;
}

// The index of each open catalogue by quantum numbers, built at its first J
// and kept: catalogues do not change once open.
const SeriesIndex& index_of(std::size_t catalog) {
    static std::vector<std::unique_ptr<SeriesIndex>> indexes;
    const Catalog& c = catalog_session().catalogs[catalog];
    if (indexes.size() <= catalog) indexes.resize(catalog + 1);
    auto& index = indexes[catalog];
    if (!index || index->lines().data() != c.lines().data() || index->lines().size() != c.size())
        index = std::make_unique<SeriesIndex>(c);
    return *index;
}

// The step of the series, proposed and asked on the status rows: ENTER takes
// the longest series, another step is typed. nullopt when the prediction
// has no series.
std::optional<Series> ask_series(ViewerState& v, const SeriesIndex& index, LineRef line) {
    auto& w = window();
    auto& s = catalog_session();
    const auto choices = candidate_steps(index, line.line);
    if (choices.empty()) {
        const bool readable = quantum_numbers(s.line(line)).ok;
        catalog_message(v,
                        readable ? " No series: no other transition of this catalogue is one "
                                   "step of +-1 from " +
                                       quantum_number_text(s.line(line))
                                 : " No series: the quantum numbers of this prediction cannot be "
                                   "read",
                        "  " + quantum_number_text(s.line(line)));
        return std::nullopt;
    }
    const double f1 = store().FREQ[1], fn = store().FREQ[static_cast<std::size_t>(store().NPTS)];
    const auto described = [&](const Series& series) {
        std::size_t inside = 0;
        for (const SeriesMember& m : series.members) {
            const double f = index.lines()[m.line].freq / s.mhz_per_unit();
            inside += f >= f1 && f <= fn ? 1 : 0;
        }
        std::string text = " Series " + step_text(series.step) + ": " +
                           std::to_string(series.members.size()) + " members";
        if (inside != series.members.size()) text += ", " + std::to_string(inside) + " shown";
        text += ", J " + std::to_string(series.first_low) + "-" + std::to_string(series.first_high);
        return text;
    };
    Series proposed = find_series(index, line.line, choices.front().step);
    const int n = choices.front().step.n;
    std::string note;
    for (;;) {
        w.set_text_color(1);
        w.set_text_background(7);
        w.set_text_position(1, 1);
        w.write_chars(pad(note.empty() ? described(proposed) : note, 80).substr(0, 80));
        w.set_text_position(2, 1);
        w.write_chars(blanks(80));
        w.set_text_position(2, 1);
        w.write_line(" ENTER takes it, or type another step: ", LineEnd::Stay);
        w.set_text_cursor(true);
        const std::string typed = typed_name(w.read_line());
        w.set_text_cursor(false);
        if (typed.empty()) return proposed;
        const auto step = parse_step(typed, n);
        if (!step) {
            note = " A step is " + std::to_string(2 * n) +
                   " numbers of -1, 0, +1, upper state first: " + step_text(proposed.step);
            continue;
        }
        Series chosen = find_series(index, line.line, *step);
        if (chosen.members.size() < 2) {
            note = " The step " + step_text(*step) + " reaches no other transition";
            continue;
        }
        proposed = std::move(chosen);
        note.clear();
        // The new proposal is shown; ENTER takes it.
    }
}

// Where a key leaves the viewer: the cursor at the current strip's
// frequency, the display centred there with its width kept.
void leave_view(ViewerState& v, const SeriesView& view) {
    const auto& st = store();
    const double f1 = st.FREQ[1], fn = st.FREQ[static_cast<std::size_t>(st.NPTS)];
    centre_display_on(
        v, std::clamp(member_reference(view, view.strips[view.current]) + view.cursor, f1, fn));
}

// The width of one pixel column of the strips, in offsets.
double offset_step(const SeriesView& view) {
    const auto& w = window();
    const int x1 = w.column_x(label_columns(view) + 1), x2 = w.width() - 3;
    return (view.high - view.low) / std::max(1, x2 - x1);
}

// The span is kept between a few points and as many as keep a redraw of every
// strip within the cost of one whole-spectrum redraw.
void clamp_span(SeriesView& view) {
    const auto& st = store();
    const double step = std::abs(st.FREQ[2] - st.FREQ[1]);
    const double least = 8 * step, most = 20000 * step;
    double width = view.high - view.low;
    if (!(width >= least)) {
        const double mid = (view.low + view.high) / 2;
        view.low = mid - least / 2;
        view.high = mid + least / 2;
    } else if (width > most) {
        const double mid = (view.low + view.high) / 2;
        view.low = mid - most / 2;
        view.high = mid + most / 2;
    }
    width = view.high - view.low;
    view.cursor = std::clamp(view.cursor, view.low + width / 1000, view.high - width / 1000);
}

void message(ViewerState& v, const SeriesView& view, const std::string& row1,
             const std::string& row2 = {}, int color = 1) {
    (void)view;
    catalog_message(v, row1, row2, color);
}

// X: the profile fit at the cursor of the current strip, with the settings of
// the viewer's X.
void fit_current(ViewerState& v, SeriesView& view) {
    const auto& st = store();
    const std::size_t member = view.strips[view.current];
    const double at = member_reference(view, member) + view.cursor;
    const ProfileKeySettings& settings = profile_key_settings();
    std::vector<double> predicted;
    if (settings.at_predictions) {
        const double shift = view.trend.at(view.series.members[member].order);
        const auto& s = catalog_session();
        const double reach = 25 * s.settings.tolerance;
        for (const Catalog& c : s.catalogs)
            for (std::size_t k = c.lower_bound((at - shift - reach) * view.mhz_per_unit);
                 k < c.size() && c.lines()[k].freq <= (at - shift + reach) * view.mhz_per_unit; ++k)
                predicted.push_back(c.lines()[k].freq / view.mhz_per_unit + shift);
        std::sort(predicted.begin(), predicted.end());
    }
    const FitOutcome outcome =
        fit_profile(st.FREQ, st.INTENS, st.NPTS, at, settings.fit, predicted);
    view.fit.reset();
    view.fitted_member.reset();
    if (!outcome) {
        draw_series_view(v, view);
        message(v, view,
                joined({" ", shape_name(settings.fit.shape),
                        " fit refused: ", refusal_text(outcome.refusal()), "; nothing is kept"}),
                joined({" ", profile_settings_text(settings.fit), " (x sets them)"}));
        return;
    }
    view.fit = *outcome;
    view.fitted_member = member;
    view.reading = read_fit(outcome, at, st.NPTS);
    draw_series_view(v, view);
    const auto rows = profile_result_rows(*outcome, settings.fit);
    std::string row2 = rows[1];
    if (!view.reading.flags.empty())
        row2 = joined({" flags: ", flags_text(view.reading), "  ", rows[1]});
    message(v, view, rows[0], row2);
}

// T: the fit of the current strip to its member, through T's writer.
void assign_current(ViewerState& v, SeriesView& view) {
    auto& s = catalog_session();
    const std::size_t member = view.strips[view.current];
    if (!view.fit || view.fitted_member != member) {
        message(v, view, " Nothing to assign in this strip: X fits the line at the cursor first");
        return;
    }
    const LineRef r{view.catalog, view.series.members[member].line};
    const QuantumNumbers q = quantum_numbers(s.line(r));
    if (!q.ok) {
        message(v, view, " Not assigned: the quantum numbers of this prediction cannot be read");
        return;
    }
    const double unc = s.settings.fixed_unc > 0 ? s.settings.fixed_unc : view.reading.error;
    if (!(unc > 0)) {
        message(v, view, " Not assigned: the fit has no error; set a fixed uncertainty with D");
        return;
    }
    const std::vector<PendingRecord> pending{
        {r, q, view.reading.centre, unc, s.settings.weight, 4}};
    const auto written = write_records(v, pending, RecordsKind::Measurement, [&] {
        note_records(view, pending, false);
        view.fit.reset();
        view.fitted_member.reset();
        draw_series_view(v, view);
    });
    if (!written) {
        // The rows say why; the screen under them is the view again.
        draw_series_view(v, view, true);
        return;
    }
    last_series_write() = SeriesWrite{pending, written->previous};
}

// U: the view's last write taken back, after a yes.
void take_back(ViewerState& v, SeriesView& view) {
    auto& w = window();
    auto& s = catalog_session();
    if (last_series_write().records.empty()) {
        message(v, view, " Nothing to take back: the view has not assigned anything yet");
        return;
    }
    const std::size_t count = last_series_write().records.size();
    const std::string what =
        count == 1 ? quantum_number_text(s.line(last_series_write().records.front().r))
                   : std::to_string(count) + " members";
    w.set_text_color(15);
    w.set_text_background(12);
    w.set_text_position(1, 1);
    w.write_chars(pad(" Take back the view's last assignment, " + what + " (Y/N) ? ", 80));
    w.set_text_background(7);
    w.set_text_position(2, 1);
    w.write_chars(blanks(80));
    if (!wait_for_yes_or_no()) {
        draw_series_view(v, view);
        return;
    }
    const std::string& path = s.settings.lin_path;
    const auto waiting = [&] {
        catalog_message(v, " Waiting for " + path + ": another program is writing it");
        window().flush();
    };
    AssignOutcome done;
    if (count == 1 && !last_series_write().replaced.empty()) {
        // It replaced a line: that line comes back.
        done = write_assignments(
            path, {{last_series_write().records.front().q, last_series_write().replaced}}, true,
            waiting);
    } else {
        std::vector<QuantumNumbers> qs;
        for (const PendingRecord& p : last_series_write().records)
            qs.push_back(p.q);
        done = remove_assignments(path, qs, waiting);
    }
    if (done.status != AssignStatus::Written) {
        const std::string why = done.status == AssignStatus::Missing
                                    ? std::string("the records are gone from the file")
                                    : done.text;
        draw_series_view(v, view);
        message(v, view, " Not taken back: " + why, " " + path + " is as it was", 12);
        return;
    }
    // What went, or came back, without reading the file once more (see
    // note_records).
    const SeriesWrite taken = last_series_write();
    last_series_write() = SeriesWrite{};
    for (std::size_t c = 0; c < s.catalogs.size(); ++c)
        std::erase_if(s.assigned[c], [&](std::size_t k) {
            const auto fields = transition_fields(quantum_numbers(s.catalogs[c].lines()[k]));
            return std::find(done.removed.begin(), done.removed.end(), fields) !=
                   done.removed.end();
        });
    note_records(view, taken.records, true);
    if (!taken.replaced.empty())
        if (const auto back = record_numbers(taken.replaced)) {
            PendingRecord again = taken.records.front();
            again.freq = (std::signbit(back->unc) ? back->freq * MHZ_PER_WAVENUMBER : back->freq) /
                         view.mhz_per_unit;
            note_records(view, {again}, false);
        }
    draw_series_view(v, view);
    message(v, view, " Taken back from " + path + ": " + what);
}

} // namespace

SeriesWrite& last_series_write() {
    static SeriesWrite last;
    return last;
}

double member_prediction(const SeriesView& view, std::size_t member) {
    return catalog_session().catalogs[view.catalog].lines()[view.series.members[member].line].freq /
           view.mhz_per_unit;
}

double member_reference(const SeriesView& view, std::size_t member) {
    return member_prediction(view, member) + view.trend.at(view.series.members[member].order);
}

void write_series_key_page(Window& w) {
    w.write_line("");
    w.write_line(heading("S E R I E S   V I E W   K E Y S"));
    w.write_line("");
    for (const char* line : {
             "         K,L - move the cursor in every strip (8 / 1 pixel columns: k,l)",
             "         Q,E - widen / narrow the span of offsets about the cursor",
             "         W,Z - magnify / reduce the strips' vertical scale",
             "     [,] {,} - strip below/above, eight strips (HOME,END: first/last member)",
             "         X,x - fit the line at the cursor of the strip / the fit's settings",
             "           T - assign the fit of the strip to its member",
             "           U - take back the view's last assignment (after Y)",
             "           A - fit every member not assigned: T turns a row over, Y writes",
             "      Ctrl+P - save a picture of the window",
             "   Esc,ENTER - back to the viewer at the cursor of the strip",
         })
        w.write_line(line);
    w.write_line(blanks(7) + "ENTER - exits this page", LineEnd::Stay);
}

int strip_rows(int nrows) {
    return std::max(1, nrows - 4);
}

int label_columns(const SeriesView& view) {
    std::size_t longest = 0;
    const auto& lines = catalog_session().catalogs[view.catalog].lines();
    for (std::size_t m : view.strips)
        longest = std::max(longest, quantum_number_text(lines[view.series.members[m].line]).size());
    return static_cast<int>(std::min<std::size_t>(longest + 2, 30));
}

void keep_current_shown(SeriesView& view, int rows) {
    const auto shown = static_cast<std::size_t>(rows);
    if (view.current < view.bottom) view.bottom = view.current;
    if (view.current >= view.bottom + shown) view.bottom = view.current + 1 - shown;
}

void refresh_measured(SeriesView& view) {
    const auto& s = catalog_session();
    const Catalog& c = s.catalogs[view.catalog];
    LinFrequencies lin;
    if (!s.settings.lin_path.empty()) lin = lin_frequencies(s.settings.lin_path);
    view.lin_error = lin.error.empty() ? std::string() : s.settings.lin_path + ": " + lin.error;
    if (!lin.error.empty()) lin.mhz.clear();
    view.measured = measured_members(view.series, c, lin, view.mhz_per_unit);
    view.trend = series_trend(view.series, c, view.mhz_per_unit, view.measured);
}

void note_records(SeriesView& view, const std::vector<PendingRecord>& records, bool removed) {
    const auto& s = catalog_session();
    const Catalog& c = s.catalogs[view.catalog];
    for (const PendingRecord& r : records) {
        if (r.r.catalog != view.catalog) continue;
        // The frequency as the record holds it, to its last digit: the trend
        // is then the one a view opened again from the file has.
        std::optional<double> written;
        if (!removed) {
            const auto record =
                lin_line(r.q, r.freq, r.unc, r.weight, "", s.unit, r.weight_decimals);
            const auto numbers = record ? record_numbers(*record) : std::nullopt;
            written = numbers ? numbers->freq : r.freq;
        }
        for (std::size_t m = 0; m < view.series.members.size(); ++m)
            if (view.series.members[m].line == r.r.line) view.measured[m] = written;
    }
    view.trend = series_trend(view.series, c, view.mhz_per_unit, view.measured);
}

std::optional<SeriesView> make_series_view(std::size_t catalog, Series series) {
    const auto& s = catalog_session();
    const auto& st = store();
    SeriesView view;
    view.catalog = catalog;
    view.series = std::move(series);
    view.mhz_per_unit = s.mhz_per_unit();
    const double f1 = st.FREQ[1], fn = st.FREQ[static_cast<std::size_t>(st.NPTS)];
    for (std::size_t m = 0; m < view.series.members.size(); ++m) {
        const double f = member_prediction(view, m);
        if (f >= f1 && f <= fn) {
            if (m == view.series.through) view.current = view.strips.size();
            view.strips.push_back(m);
        }
    }
    if (view.strips.empty()) return std::nullopt;
    refresh_measured(view);
    // Wide enough for predictions some line widths off: five tolerances each side.
    const double half = 5 * s.settings.tolerance;
    view.low = -half;
    view.high = half;
    clamp_span(view);
    return view;
}

void key_series_view(ViewerState& v) {
    auto& s = catalog_session();
    auto& w = window();
    const auto& st = store();
    const auto near = nearest_prediction(s, v.FCURS);
    if (!near) {
        catalog_message(v, " No predicted line: C opens a catalogue");
        return;
    }
    const SeriesIndex& index = index_of(near->catalog);
    auto series = ask_series(v, index, *near);
    if (!series) return;

    auto made = make_series_view(near->catalog, std::move(*series));
    if (!made) {
        catalog_message(v, " No member of the series lies in this spectrum");
        return;
    }
    SeriesView& view = *made;
    const int rows = strip_rows(st.SCREEN.NROWS);
    keep_current_shown(view, rows);
    draw_series_view(v, view);

    for (;;) {
        const std::int16_t k = INKEY();
        switch (k) {
        case KEY_ENTER:
        case KEY_ESCAPE:
            leave_view(v, view);
            full_redraw(v);
            return;
        case 'K':
        case 'k':
        case 'L':
        case 'l': {
            const double steps = (k == 'K' ? -8 : k == 'k' ? -1 : k == 'L' ? 8 : 1);
            draw_series_cursor(view);
            const double step = offset_step(view);
            view.cursor = std::clamp(view.cursor + steps * step, view.low + step, view.high - step);
            draw_series_cursor(view);
            write_series_rows(view);
            break;
        }
        case 'Q':
        case 'q':
        case 'E':
        case 'e': {
            FrequencyWindow d{view.low, view.high, view.cursor};
            const double inf = std::numeric_limits<double>::infinity();
            if (k == 'Q' || k == 'q')
                zoom_out(d, k == 'Q' ? 0.5 : 0.1, -inf, inf);
            else
                zoom_in(d, k == 'E' ? 0.25 : 0.45, -inf, inf);
            view.low = d.FLOW;
            view.high = d.FHIGH;
            view.cursor = d.FCURS;
            clamp_span(view);
            draw_series_view(v, view);
            break;
        }
        case 'W':
        case 'w':
        case 'Z':
        case 'z': {
            const double f = k == 'W' ? 1 / 0.75 : k == 'w' ? 1 / 0.95 : k == 'Z' ? 0.75 : 0.95;
            view.vertical = std::clamp(view.vertical * f, 1e-3, 1e6);
            draw_series_view(v, view);
            break;
        }
        case '[':
        case ']':
        case '{':
        case '}':
        case KEY_HOME:
        case KEY_END: {
            // [ and ] one strip, their shifted keys { and } eight, as K and k
            // move the cursor.
            const std::size_t by = k == '{' || k == '}' ? 8 : 1;
            const std::size_t last = view.strips.size() - 1;
            if (k == '[' || k == '{') view.current -= std::min(by, view.current);
            if (k == ']' || k == '}') view.current = std::min(last, view.current + by);
            if (k == KEY_HOME) view.current = 0;
            if (k == KEY_END) view.current = view.strips.size() - 1;
            keep_current_shown(view, rows);
            draw_series_view(v, view);
            break;
        }
        case 'X':
            fit_current(v, view);
            break;
        case 'x':
            try {
                key_profile_settings(v);
            } catch (const Cancelled&) {
            }
            w.set_text_cursor(false);
            w.set_text_background(7);
            w.clear_window();
            draw_series_view(v, view);
            break;
        case 'T':
        case 't':
            try {
                assign_current(v, view);
            } catch (const Cancelled&) {
                w.set_text_cursor(false);
                w.set_text_background(7);
                w.clear_window();
                draw_series_view(v, view);
            }
            break;
        case 'U':
        case 'u':
            take_back(v, view);
            break;
        case 'A':
        case 'a':
            try {
                (void)series_review(v, view);
            } catch (const Cancelled&) {
                w.set_text_cursor(false);
                w.set_text_background(7);
                w.clear_window();
                draw_series_view(v, view);
            }
            break;
        case '?':
            w.set_text_color(0);
            w.set_text_background(7);
            w.clear_window();
            w.set_text_position(1, 1);
            write_series_key_page(w);
            wait_for_enter();
            w.clear_window();
            draw_series_view(v, view);
            break;
        case KEY_CTRL_P:
            key_save_picture(v);
            break;
        default:
            break;
        }
    }
}

} // namespace korax

// A in the series view: every member not assigned fitted at its reference
// position, the review list of them (take or skip, and why), rows turned
// over by the operator, and Y writing every member taken in one write of the
// assignment file through T's writer.
#include "viewer/series_view.h"

#include "base/format.h"
#include "spectrum/store.h"
#include "viewer/assignment_keys.h"
#include "viewer/catalog_keys.h"
#include "viewer/catalog_screens.h"
#include "viewer/profile_key.h"
#include "window/cancel.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <thread>

namespace korax {

namespace {

// The rows of the list that are not members: heading, count, column heads,
// and the keys below.
constexpr int HEAD_ROWS = 5, FOOT_ROWS = 2;

std::string list_row(const SeriesView& view, const MemberFit& f, int label, bool highlighted) {
    const auto& s = catalog_session();
    const PredictedLine& line =
        s.catalogs[view.catalog].lines()[view.series.members[f.member].line];
    const int places = view.mhz_per_unit == 1.0 ? 4 : 6;
    std::string row = highlighted ? ">" : " ";
    row += fmt_int(view.series.members[f.member].order, 4) + " ";
    row += pad(quantum_number_text(line), static_cast<std::size_t>(label));
    if (f.fit.fitted) {
        std::string value(1, ' ');
        value += with_error(f.fit.centre, f.fit.error);
        row += pad(value, 19);
        row += fmt_fixed(f.fit.centre - f.prediction, 9, places);
    } else {
        row += blanks(19 + 9);
    }
    // The flags, or why the member is skipped when nothing flags it.
    std::string why = f.fit.fitted ? flags_text(f.fit) : "";
    if (f.decision.decision == Decision::Skip && f.decision.reason != "flagged")
        why = f.decision.reason.starts_with("fit refused") ? "refused" : "no line";
    if (f.take && why == "no line") why = "-";
    row += "  " + pad(why, 14);
    row += f.take ? "take" : "skip";
    return pad(row, 80).substr(0, 80);
}

void draw_list(const SeriesView& view, const std::vector<MemberFit>& fits, std::size_t at,
               std::size_t top, int label) {
    Window& w = window();
    const int nrows = store().SCREEN.NROWS;
    std::size_t taken = 0;
    for (const MemberFit& f : fits)
        taken += f.take ? 1 : 0;
    open_dialog_screen(w, "A S S I G N   T H E   S E R I E S");
    w.set_text_cursor(false);
    w.write_line("     " + std::to_string(fits.size()) +
                 " members fitted at their reference positions: " + std::to_string(taken) +
                 " taken, " + std::to_string(fits.size() - taken) + " skipped");
    w.write_line(pad("     # " + pad("member", static_cast<std::size_t>(label)) +
                         "  frequency(error)       o-c  flags",
                     80)
                     .substr(0, 80));
    const auto shown = static_cast<std::size_t>(std::max(1, nrows - HEAD_ROWS - FOOT_ROWS));
    for (std::size_t i = top; i < fits.size() && i < top + shown; ++i) {
        w.set_text_position(HEAD_ROWS + 1 + static_cast<int>(i - top), 1);
        if (i == at) {
            w.set_text_color(15);
            w.set_text_background(1);
        }
        w.write_chars(list_row(view, fits[i], label, i == at));
        w.set_text_color(0);
        w.set_text_background(7);
    }
    w.set_text_position(nrows - 1, 1);
    w.write_chars(pad(" [ ] a row down or up   T or blank: take or skip it   Y writes the members "
                      "taken",
                      80)
                      .substr(0, 80));
    w.set_text_position(nrows, 1);
    w.write_chars(pad(" Esc or N: back to the strips, nothing written", 80));
}

} // namespace

bool series_review(ViewerState& v, SeriesView& view) {
    auto& s = catalog_session();
    const auto& st = store();
    Window& w = window();
    if (!view.lin_error.empty()) {
        catalog_message(v, " Not fitted: " + view.lin_error, "", 12);
        return false;
    }
    write_series_rows(view);
    catalog_message(v, " Fitting the members of the series at their reference positions ...", "");
    w.flush();
    SeriesFitSettings settings;
    const ProfileKeySettings& x = profile_key_settings();
    settings.fit = x.fit;
    settings.at_predictions = x.at_predictions;
    settings.tolerance = s.settings.tolerance;
    settings.mhz_per_unit = view.mhz_per_unit;
    settings.threads =
        static_cast<int>(std::max(1u, std::min(2u, std::thread::hardware_concurrency())));
    std::vector<MemberFit> fits =
        fit_series(view.series, s.catalogs, view.catalog, {st.FREQ, st.INTENS, st.NPTS}, settings,
                   view.measured);
    if (fits.empty()) {
        draw_series_view(v, view);
        catalog_message(v, " Every member of the series in the spectrum is assigned already");
        return false;
    }
    std::size_t label = 6;
    for (const MemberFit& f : fits)
        label = std::max(label,
                         quantum_number_text(
                             s.catalogs[view.catalog].lines()[view.series.members[f.member].line])
                             .size());
    const int columns = static_cast<int>(std::min<std::size_t>(label + 1, 24));
    const auto shown =
        static_cast<std::size_t>(std::max(1, st.SCREEN.NROWS - HEAD_ROWS - FOOT_ROWS));
    std::size_t at = 0, top = 0;
    for (;;) {
        if (at < top) top = at;
        if (at >= top + shown) top = at + 1 - shown;
        draw_list(view, fits, at, top, columns);
        const std::int16_t k = INKEY();
        if (k == KEY_ESCAPE || k == 'N' || k == 'n') break;
        if (k == ']' && at + 1 < fits.size()) ++at;
        if (k == '[' && at > 0) --at;
        if ((k == 'T' || k == 't' || k == ' ') && fits[at].fit.fitted)
            fits[at].take = !fits[at].take;
        if (k != 'Y' && k != 'y') continue;
        w.clear_window();
        return write_taken(v, view, fits);
    }
    w.clear_window();
    draw_series_view(v, view);
    return false;
}

bool write_taken(ViewerState& v, SeriesView& view, const std::vector<MemberFit>& fits) {
    auto& s = catalog_session();
    const auto& st = store();
    RecordSettings rs;
    rs.fixed_unc = s.settings.fixed_unc;
    rs.weight = s.settings.weight;
    rs.equal_weights = s.settings.equal_weights;
    rs.comment = std::string(trim_right(st.FNAME));
    rs.unit = s.unit;
    const SeriesRecords made = taken_records(view.series, s.catalogs[view.catalog], fits, rs);
    draw_series_view(v, view);
    if (!view.lin_error.empty()) {
        // What the file holds is not known: the members it holds could be
        // written twice.
        catalog_message(v, " Not assigned: " + view.lin_error, "", 12);
        return false;
    }
    if (!made.error.empty()) {
        catalog_message(v, " Not assigned: " + made.error);
        return false;
    }
    if (made.records.empty()) {
        catalog_message(v, " No member is taken: nothing is written");
        return false;
    }
    std::vector<PendingRecord> pending;
    for (const SeriesRecord& r : made.records)
        pending.push_back({{view.catalog, view.series.members[fits[r.fit].member].line},
                           r.assignment.q,
                           r.freq,
                           r.unc,
                           r.weight,
                           r.weight_decimals});
    const auto written = write_records(v, pending, RecordsKind::Series, [&] {
        note_records(view, pending, false);
        draw_series_view(v, view);
    });
    if (!written) {
        // The rows say why; the screen under them is the view again.
        draw_series_view(v, view, true);
        return false;
    }
    last_series_write() =
        SeriesWrite{pending, pending.size() == 1 ? written->previous : std::string()};
    return true;
}

} // namespace korax

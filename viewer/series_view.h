// The series view (Loomis-Wood): J opens it for the series through the
// prediction nearest the cursor. One strip a member, stacked by the member's
// order, each showing the spectrum over the same span of offsets around the
// member's reference position (its prediction plus the trend of the o-c of
// the members assigned so far); its own keys move, fit, assign, take back and
// assign the whole series (A, then Y) through T's writer. The series, trend
// and review are the windowless series library's; this is their screen.
#pragma once

#include "analysis/profile_fit.h"
#include "catalog/overlay.h"
#include "series/engine.h"
#include "viewer/assignment_keys.h"
#include "viewer/viewer_state.h"
#include "window/window.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace korax {

// J and j: the step prompt, then the view until Esc or ENTER, which leave to
// the viewer with the cursor at the current strip's frequency.
void key_series_view(ViewerState& v);

// What the view holds while it is open.
struct SeriesView {
    std::size_t catalog = 0;
    Series series;
    std::vector<std::size_t> strips; // members in the spectrum (into series.members), by order
    std::vector<std::optional<double>> measured; // per member: the assignment file's frequency
    Trend trend;
    double mhz_per_unit = 1;
    std::string lin_error;     // why the assignment file could not be read; empty: read
    std::size_t current = 0;   // into strips
    std::size_t bottom = 0;    // the strip on the lowest row shown
    double low = -1, high = 1; // the span of offsets from the reference positions
    double cursor = 0;         // offset
    double vertical = 1;       // W and Z: the strips' scale over their own points
    // The last X: the member it fitted and the fit, drawn in its strip and
    // assigned by T.
    std::optional<std::size_t> fitted_member;
    std::optional<ProfileFit> fit;
    FitReading reading;
};

// The view's last write, for U, kept for the run so that a view opened again
// takes it back too: what it added, and the line a single record replaced.
struct SeriesWrite {
    std::vector<PendingRecord> records;
    std::string replaced;
};
SeriesWrite& last_series_write();

// The page of the view's keys, at the text position, as the ? page of the
// viewer is written.
void write_series_key_page(Window& w);

// The pieces of the view for its keys and tests.
double member_prediction(const SeriesView& view, std::size_t member);
double member_reference(const SeriesView& view, std::size_t member);
// The members on the screen: rows 3 .. NROWS - 2, one strip a row.
int strip_rows(int nrows);
// The width of the label column: the longest label and its mark.
int label_columns(const SeriesView& view);
// Keeps the current strip on the screen, scrolling no more than needed.
void keep_current_shown(SeriesView& view, int rows);

// Drawing (series_strips.cpp): the whole view, or with the two status rows
// left as they are; the cursor line alone (drawn twice it is gone); the
// status rows.
void draw_series_view(const ViewerState& v, const SeriesView& view, bool keep_rows = false);
void draw_series_cursor(const SeriesView& view);
void write_series_rows(const SeriesView& view);
std::string series_key_line();

// The view of `series` (of catalogue `catalog`): its members in the spectrum
// as strips, the current one the member the series was asked through, the
// members the assignment file holds and their trend; nullopt when no member
// lies in the spectrum.
std::optional<SeriesView> make_series_view(std::size_t catalog, Series series);

// A (series_review.cpp): fits the members not assigned, shows the review,
// and writes the members taken after Y. True when it wrote.
bool series_review(ViewerState& v, SeriesView& view);
// Y of the review: the members taken of `fits` in one write of the
// assignment file through T's writer, the view drawn again with them
// assigned. True when written; the status rows say what happened.
bool write_taken(ViewerState& v, SeriesView& view, const std::vector<MemberFit>& fits);

// The members measured, read from the assignment file, and their trend; a
// file that cannot be read leaves none measured and says why in `lin_error`.
void refresh_measured(SeriesView& view);
// After a write or a take-back: the members of `records` measured at their
// frequencies, or not at all (`removed`), and the trend refitted. Not read
// from the file again: a read that failed once the file is in place would
// lose what was written.
void note_records(SeriesView& view, const std::vector<PendingRecord>& records, bool removed);

} // namespace korax

// A reference spectrum over the one in work, and the difference mode. The
// reference is read only: it lives in arrays of its own (never in the store),
// is drawn over the same frequency axis in a colour of its own with its own
// vertical scale and offset, and is freed when switched off. The difference
// mode shows main - k x reference (the reference interpolated onto the grid
// of the spectrum in work) as the trace; the store is unchanged until the
// difference is taken into it. Without a reference the viewer looks and
// behaves as it always has.
#pragma once

#include "analysis/difference.h"
#include "input/spectrum_file.h"
#include "viewer/viewer_state.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace korax {

// The reference's trace colour: light cyan, apart from the white trace, the
// yellow cursor and the first catalogues' green and magenta.
inline constexpr int REFERENCE_COLOR = 11;

// Points per block of the reference's extremes.
inline constexpr std::int32_t REFERENCE_BLOCK = 64;

struct ReferenceSpectrum {
    Spectrum spectrum; // 1-based, as read
    // Drawn at gain x intensity + offset, in the intensity units of the
    // spectrum in work, so that it follows every vertical zoom and shift.
    double gain = 1, offset = 0;
    // The smallest and largest intensity of each block of REFERENCE_BLOCK
    // points (block b: points b x REFERENCE_BLOCK + 1 onwards), so that the
    // extremes of a pixel column cost a few reads however many points it
    // holds: the reference is drawn in the time of its pixel columns.
    std::vector<std::int32_t> block_min, block_max;
};
// Fills the blocks of a freshly read reference.
void index_reference_blocks(ReferenceSpectrum& r);
// The smallest and largest intensity of points [first, last] (1-based,
// first <= last, within the spectrum).
std::pair<std::int32_t, std::int32_t> reference_extremes(const ReferenceSpectrum& r,
                                                         std::int32_t first, std::int32_t last);
// The points of [first, last] that draw the same pixels as all of them in the
// window's plot coordinates as they are set: per pixel column the first and
// the last point, and the column's smallest and largest intensity at the
// first point's frequency.
void reference_column_points(const ReferenceSpectrum& r, std::int32_t first, std::int32_t last,
                             std::vector<double>& x, std::vector<std::int32_t>& y);

// What the reference on the grid was computed from: the axis of the spectrum
// in work and the reference itself. The difference itself is computed from it
// for the points drawn, at every drawing, so that it always follows the
// spectrum in work, whichever command changed it.
struct GridSource {
    std::int32_t npts = 0;
    double first = 0, last = 0, step = 0;
    std::uint64_t reference = 0; // the reference's generation
    bool operator==(const GridSource&) const = default;
};

// What the fit's blocks were taken from: the reference on the grid, and the
// state of the spectrum in work.
struct FitSource {
    GridSource grid;
    std::uint64_t history = 0;    // the undo history's state
    std::uint64_t generation = 0; // CompareSession::store_generation
    bool operator==(const FitSource&) const = default;
};

struct DifferenceMode {
    bool on = false;
    double k = 1;
    bool typed = false; // k typed, not fitted over the points shown
    // The reference at every point of the spectrum in work (NaN where it does
    // not reach), 1-based; kept while the reference is open.
    std::vector<double> on_grid;
    std::optional<GridSource> grid_source;
    // main - k x reference over the points last asked for (shown_trace),
    // 1-based: values_size points, only those asked for set. Allocated
    // without clearing when first needed in the mode, so that a few points
    // asked for touch a few pages of it.
    std::unique_ptr<std::int32_t[]> values;
    std::size_t values_size = 0;
    // The sums of fits of the spectrum to the reference by blocks, and what
    // they were taken from: kept while neither changes, so that a fit over
    // the points shown costs a few thousand additions.
    std::optional<FitBlocks> fit_blocks;
    std::optional<FitSource> fit_source;
};

struct CompareSession {
    std::optional<ReferenceSpectrum> reference;
    std::uint64_t reference_generation = 0;
    DifferenceMode difference;
    // Bumped before every command that may change the spectrum in work and
    // when a command is undone by Esc or a failure: what was computed from the
    // spectrum before is then taken again.
    std::uint64_t store_generation = 0;
};

// The session of this run: the reference stays open from one spectrum to the
// next until it is switched off; the difference mode ends at each entry to
// the viewer.
CompareSession& compare_session();

// At entry to the viewer: the difference mode off.
void compare_entry();
// Before a command that may change the spectrum in work, and after one was
// undone (see CompareSession::store_generation).
void note_store_may_change();
// The reference's scale fitted to the spectrum in work over [first, last]:
// main ~ k x reference + c by least squares, from the blocks kept.
ScaleFit fit_reference(std::int32_t first, std::int32_t last);
// The reference on the grid given up: the reference is switched off or replaced.
void release_reference_grid();
bool difference_shown();
// The intensities the trace shows, 1-based, to be read over [first, last]
// only (held inside 1..NPTS): the store's, or in the difference mode the
// difference, computed there now from the spectrum as it stands.
std::span<const std::int32_t> shown_trace(std::int32_t first, std::int32_t last);
// The same for one point.
std::int32_t shown_intensity(std::int32_t i);
// The smallest and largest intensity the trace shows over [first, last].
std::pair<std::int32_t, std::int32_t> shown_extremes(std::int32_t first, std::int32_t last);
// In the difference mode: draws the difference over IFIRST..ILAST as the
// trace, from its extremes per pixel column (the same pixels as all its
// points), and returns true; false otherwise.
bool draw_difference_trace(ViewerState& v);
// The reference at every point of the spectrum in work, 1-based, NaN where it
// does not reach; computed when the reference is opened and again when the
// axis changed (an append, its undo). Needs a reference.
std::span<const double> reference_on_grid();
// Draws the reference into the freshly drawn plot (nothing in the difference
// mode or without a reference).
void draw_reference(ViewerState& v);
// The mark of the key line (13 columns from column 27) and of status row 2
// (up to 48 columns from column 13); empty without a reference.
std::string reference_key_mark();
std::string reference_status_note();
// True (after saying why on the status rows) when the key measures, saves or
// writes the trace and the difference is shown instead of the spectrum.
[[nodiscard]] bool refused_in_difference_mode(ViewerState& v, std::int16_t code);

// ---- the keys ---------------------------------------------------------------------

// <: opens a reference spectrum (a second press replaces it).
void key_reference_open(ViewerState& v);
// Without a reference the other keys say so and change nothing; these return
// false then (the key table's Refused).
// >: the reference off, and the difference mode with it.
bool key_reference_off(ViewerState& v);
// PGUP/PGDN: the reference taller or shorter by `factor` about YREF.
bool key_reference_scale(ViewerState& v, double factor);
// Up/down: the reference up or down by `fraction` of the intensity range.
bool key_reference_shift(ViewerState& v, double fraction);
// /: the reference's scale and offset fitted to the trace shown; in the
// difference mode, k fitted over the points shown.
bool key_reference_fit(ViewerState& v);
// ~: the difference mode on and off.
bool key_difference(ViewerState& v);
// :: k typed (ENTER alone: fitted over the points shown); turns the mode on.
bool key_difference_k(ViewerState& v);
// !: the difference taken into the spectrum, a change U takes back.
bool key_difference_take(ViewerState& v);

// ---- the arithmetic, free of the window -----------------------------------------

// Gain and offset that put the reference's extremes onto the spectrum's.
void scale_to_extremes(ReferenceSpectrum& r, std::int32_t iymin, std::int32_t iymax);
// The reference's points drawn for a display from flow to fhigh: those within
// it and one beyond each side, [first, last] 1-based; empty (first > last)
// when none of the reference lies near the display.
struct ReferencePoints {
    std::int32_t first = 1, last = 0;
};
ReferencePoints reference_points_shown(std::span<const double> freq, double flow, double fhigh);
// k as the key line and status row show it.
std::string k_text(double k);

} // namespace korax

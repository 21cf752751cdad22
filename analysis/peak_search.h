// PEAKFINDER without a window: the search for every line above a cutoff
// (peak_search.cpp) and the results file (peak_results.cpp), for AUTOPK's
// dialog and for `korax peaks`; its candidate test also finds the further
// lines of a blend for the profile fit.
#pragma once

#include "analysis/half_height.h"
#include "base/safe_file.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

struct PeakSearchSettings {
    std::int32_t start = 1, end = 1; // search range, points
    std::int16_t cutoff = 0;         // absolute intensity a line must reach
    std::int16_t baseline = 0;       // intensities are reported above this level
    std::int16_t nfit = 7;           // fitting points, odd, 5..499
    double height = 1;               // intensity that gets the full bar of 32
    int threads = 1;                 // that measure the lines found (same results for any)
};

// Lines with a usable fit are counted; FWHH enters the mean only when both
// half-height crossings were found.
struct PeakSearchTotals {
    std::int32_t count = 0;     // lines reported with a fit
    std::int32_t failed = 0;    // candidates whose fit had no curvature
    std::int32_t with_fwhh = 0; // lines whose FWHH enters the mean
    double sum = 0, sum2 = 0;   // of those FWHH
};

// One candidate as numbers, for callers that tabulate the lines themselves.
struct FoundLine {
    double frequency = 0, error = 0; // the fit's; the candidate's point when it failed
    std::int32_t intensity = 0;      // above the baseline, truncated
    std::optional<double> fwhh;      // absent when a half-height crossing was not found
    bool fitted = true;              // false: the fit had no curvature
    // Found only against a local level (a bent baseline's, see
    // local_candidates), not over PEAKFINDER's absolute cutoff: a fit that
    // finds no line there has nothing to report.
    bool tentative = false;
};

// PEAKFINDER's candidate test: the first place i from `from` to `to` where
// values[i] is at or above `cutoff` and strictly above each of values[i - 2q],
// values[i - q], values[i + q] and values[i + 2q]; to + 1 when there is none.
// The caller keeps from - 2q and to + 2q inside `values`. After a candidate
// PEAKFINDER goes on at i + 2q + 1.
template <class T>
std::int64_t next_candidate(std::span<const T> values, std::int64_t from, std::int64_t to,
                            std::int64_t q, T cutoff);

// The candidates of the whole of `values` (0-based), PEAKFINDER's scan from
// place 2q on, strongest first (of equal ones the earlier).
std::vector<std::size_t> candidate_places(std::span<const double> values, std::size_t q,
                                          double cutoff);

// The level under every point of y (1-based, n points), for a scan that must
// not take a slow baseline for lines, nor miss lines where it sags: medians of
// blocks of `block` points joined by straight lines, flat beyond the middles of
// the outer blocks. Points `clip` or more off the level (lines, the lobes of
// strong ones) and their neighbours do not count, when clip > 0. Element i - 1
// is the level at point i.
std::vector<double> local_level(std::span<const std::int32_t> y, std::int32_t n, std::int32_t block,
                                double clip = 0);

// PEAKFINDER's candidate test (see next_candidate) on sign * (y - level), with
// the cutoff `height` above the local level: the lines that stand out of their
// surroundings whatever the baseline does, pointing up (sign +1) or down (-1).
// 1-based places, ascending; every point from 2q + 1 to n - 2q is examined.
std::vector<std::int32_t> local_candidates(std::span<const std::int32_t> y, std::int32_t n,
                                           std::span<const double> level, std::int32_t q,
                                           double height, int sign);

// Scans freq/intens (1-based, npts points) for lines and appends one results
// line per candidate to `text` (CRLF ends). `progress` is called with the count
// at every tenth line. The range must lie inside 1..npts. When `found` is given,
// every candidate is also appended to it.
PeakSearchTotals search_lines(std::span<const double> freq, std::span<const std::int32_t> intens,
                              std::int32_t npts, const PeakSearchSettings& settings,
                              std::string& text,
                              const std::function<void(std::int32_t)>& progress = {},
                              std::vector<FoundLine>* found = nullptr);

// ---- the results file (peak_results.cpp) ----

// The head and the summary of the results file, CRLF line ends.
std::string results_head(std::string_view fname, std::int16_t cutoff, std::int16_t baseline,
                         std::int16_t nfit);
std::string results_summary(const PeakSearchTotals& totals);
// One line of a fitted candidate: frequency, error, intensity above the
// baseline, FWHH ("not found" without both crossings) and a bar of up to 32
// hyphens scaled to `height`; CRLF ended. On an axis of `step` too fine for
// the 5 decimals (an error they would write as 0.00000, see widens_for) the
// frequency, the error and the FWHH get the decimals of the error's two
// significant digits, their fields as much wider.
void append_result_line(std::string& text, double fpeak, double fperr, double ypeak,
                        const Crossings& crossings, double baseline, double height, double step);
// The same from the numbers: the intensity above the baseline, truncated, and
// the FWHH when there is one.
void append_line(std::string& text, double frequency, double error, std::int32_t intensity,
                 std::optional<double> fwhh, double height, double step);
// The line of a candidate whose fit found no curvature, at its point of an
// axis of `step`.
void append_failed_line(std::string& text, double frequency, double step = 0);
// The line of a candidate that has no measurement: its frequency and why,
// "   ** " before the reason. The frequency has 5 decimals, or more where
// those would write `known_to` (an error, a step) as zero: the decimals of
// its two significant digits.
void append_note_line(std::string& text, double frequency, std::string_view why,
                      double known_to = 0);

// Writes a whole results file (head, the lines of search_lines, summary) to
// `path` through SafeFile, without a window: mode New fails on an existing
// file. false: nothing was put in place and `error` says why. After success
// `error` is empty unless a temporary could not be removed.
[[nodiscard]] bool write_results_file(const std::string& path, OpenMode mode,
                                      std::string_view fname, const PeakSearchSettings& settings,
                                      std::string_view lines, const PeakSearchTotals& totals,
                                      std::string& error);
// The same into a file already opened (the dialog opens it before the search,
// to settle the name with the operator).
[[nodiscard]] bool write_results_file(SafeFile& file, std::string_view fname,
                                      const PeakSearchSettings& settings, std::string_view lines,
                                      const PeakSearchTotals& totals, std::string& error);

} // namespace korax

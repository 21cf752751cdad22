// The work of `korax peaks` on one loaded spectrum: the N and B keys' filters,
// the level and cutoff, the robust noise estimate, and the PEAKFINDER results
// file, each exactly as the viewer would do it for the same settings.
#pragma once

#include "analysis/peak_search.h"
#include "analysis/profile_fit.h"
#include "input/spectrum_file.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korax {

struct PeaksSettings {
    std::int32_t smooth = 0;   // N key width, odd 5..499; 0: no smoothing
    std::int32_t baseline = 0; // B key width, odd 5..499, negative for the clipped form; 0: none
    std::int32_t clip_lo = 0, clip_hi = 0; // band around the preliminary baseline (clipped form)
    std::int16_t nfit = 7;                 // fitting width, odd 5..499
    std::optional<std::int16_t> level;     // baseline level; default the mean, as the viewer offers
    std::optional<std::int16_t> cutoff;    // absolute cutoff
    std::optional<double> cutoff_sigma;    // or this many noise deviations above the level
    int threads = 1;                       // for each smoothing pass
    // Refine every line found with the profile fit, its neighbours fitted with
    // it; absent: PEAKFINDER's own measurement, as the viewer writes it.
    std::optional<ProfileFitSettings> profile;
    // With a profile: the lines point down (absorption recorded as dips, a
    // derivative of the other sign); otherwise undifferentiated lines are taken
    // as dips when more stand out below the level than above it.
    bool dips = false;
};

// The blocks of the profile scan's local level are 16 fitting widths, and at
// least this many points, so that a line covers a small part of each.
inline constexpr std::int32_t LEVEL_BLOCK_MIN = 64;

// A long refinement's stop and progress: `stop` is looked at before each
// found line, `progress` told how many of them are done; `examined` (when
// given) gets how many were, all of them unless `stop` was raised.
struct RefineControl {
    const std::atomic<bool>* stop = nullptr;
    int threads = 1; // the processors the fits may take
    std::function<void(std::size_t done, std::size_t total)> progress;
    std::size_t* examined = nullptr;
};

// What the viewer would hold after the processing: the mean intensity and the
// top of the intensity display, whose difference scales the bar column.
struct ProcessedLevels {
    double ymean = 0;
    double yhigh = 0;
    // With a profile and smoothing: the points as read with the same baseline
    // taken off, for the profile fit (empty otherwise: the fit takes the
    // processed points). Smoothing correlates the noise of neighbouring
    // points, which the fit's errors and its test for a further line take to
    // be independent, and it changes the shape of every line.
    std::vector<std::int32_t> unsmoothed;
};

// Smooths and subtracts the baseline in place, as the N key, a fresh look at
// the spectrum and the B key would (so the baseline comes off the smoothed
// spectrum), and returns the viewer's levels after it (with a profile, the
// unsmoothed points for the fit). Returns nullopt when
// `stop` was raised between two passes.
std::optional<ProcessedLevels> process_spectrum(Spectrum& spectrum, const PeaksSettings& settings,
                                                const std::atomic<bool>* stop = nullptr);

// The standard deviation of the point-to-point noise of intensities y[1..n]
// (1-based, n >= 5): 1.4826 times the median absolute deviation of y minus its
// 5-point smoothed self, divided by sqrt(1 - 17/35) since that residual keeps
// only that share of white noise's variance. `smoothed_by` > 0 carries the
// estimate through one N-key pass of that width (white noise shrinks by the
// square root of the filter's centre weight).
double noise_deviation(std::span<const std::int32_t> y, std::int32_t n,
                       std::int32_t smoothed_by = 0);

// A line as the profile fit measured it, with what the fit says of itself;
// `refusal` set instead for a candidate the fit refused.
struct ProfileLine {
    FoundLine line; // frequency, error, height above the fitted baseline, lobe width
    LineWidths widths, width_errors;
    double reduced_chi_square = 0;
    int components = 0; // of the fit that measured it
    LineFlags flags;    // the fit's doubts about the line
    std::optional<FitRefusal> refusal;
};

struct PeakResults {
    std::int16_t level = 0, cutoff = 0;
    std::optional<double> noise; // when the cutoff came from it
    PeakSearchTotals totals;
    std::vector<FoundLine> lines;
    std::vector<ProfileLine> profile_lines; // with a profile: every line, by frequency
    std::int32_t below_cutoff = 0;          // fitted lines whose height misses the cutoff
    std::string text; // the results file, byte for byte as PEAKFINDER writes it
    // With a profile: the found lines, those the fits examined (fewer when
    // stopped), and whether the refinement was stopped.
    std::size_t candidates = 0, examined = 0;
    bool interrupted = false;
};

// PEAKFINDER over the whole processed spectrum with the settings' levels; with
// a profile, every line it finds refined by the profile fit, the results
// file's columns then filled from the fits (frequency and error, height, lobe
// width) and a refused fit written as a note with PEAKFINDER's frequency.
// With a profile, `control` (its `examined` unused) can stop the refinement
// between two lines: the results then hold the lines measured so far, whole,
// `interrupted` is set, and the results file ends with a note at the first
// line not examined.
PeakResults find_peaks(const Spectrum& spectrum, const ProcessedLevels& levels,
                       const PeaksSettings& settings, std::optional<double> noise,
                       const RefineControl& control = {});

// Candidates PEAKFINDER's test cannot see: the middle of every run of equal
// points of intens[1..npts] that is a clipped top (two or more at a 16-bit
// limit, three or more at the data's extreme), which has no point above its
// neighbours. Each as a FoundLine there.
std::vector<FoundLine> clipped_tops(std::span<const double> freq,
                                    std::span<const std::int32_t> intens, std::int32_t npts);

// What of a spectrum's noise is left after smoothing by `smoothed_by` points
// (1 for none).
double smoothed_noise_share(std::int32_t smoothed_by);

// The tops of intens[1..npts] that stand at least `least` above `level`
// (0-based, one a point) the way `sign` points, and above every point within
// three of them; points at a 16-bit limit, or flat at the data's extreme,
// are clipped_tops' own. Each as a FoundLine there.
std::vector<FoundLine> strong_tops(std::span<const double> freq,
                                   std::span<const std::int32_t> intens, std::int32_t npts,
                                   std::span<const double> level, double least, int sign);

// The profile fit at every found line in turn, a line that an earlier fit
// measured (within half its lobe width) left out; by frequency. The lines of a
// fit whose height above the fitted baseline, times `sign` (0: either way, for
// odd derivatives of either phase), is below `min_height` are left out too,
// their number (of distinct ones) into `below`.
// The fit reads `intens` (1-based like the spectrum's) on the spectrum's axis.
std::vector<ProfileLine> refine_lines(const Spectrum& spectrum,
                                      std::span<const std::int32_t> intens,
                                      std::span<const FoundLine> found,
                                      const ProfileFitSettings& settings, double min_height,
                                      int sign = 1, std::int32_t* below = nullptr,
                                      const RefineControl& control = {});

} // namespace korax

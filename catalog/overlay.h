// Predicted lines over the spectrum: the open catalogues of the session, the
// operator's settings, the sticks of the overlay, the nearest-prediction
// search and the identification row. Nothing here knows the viewer; it is
// handed frequencies, pixel sizes and the window. Frequencies handed in and
// out are in the spectrum's unit (see CatalogSession::choose_unit); the
// catalogues keep theirs in MHz.
#pragma once

#include "catalog/catalog.h"
#include "catalog/lin_compare.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace korax {

class Window;

enum class StickScale { Linear, Logarithmic };
// Decades below the strongest line that the logarithmic scale shows.
inline constexpr double LOG_DECADES = 6.0;
// Colours of the catalogues in the order they are opened (cycled beyond 12):
// all stand out from the blue plot area and from the white trace.
inline constexpr int CATALOG_COLORS[] = {10, 13, 11, 12, 14, 6, 2, 5, 3, 4, 9, 8};
inline constexpr std::size_t MAX_CATALOGS = 16;

// Fraction of the plot height of a line of log intensity `lg` when the strongest
// line in view has `lg_max`: 10^(lg - lg_max) on the linear scale, the share of
// LOG_DECADES on the logarithmic one. Always within 0..1.
double stick_fraction(double lg, double lg_max, StickScale scale);
// Stick height in pixels for a plot `height` pixels tall: at least 1, so that
// every prediction in view leaves a mark, and at most the plot height.
int stick_pixels(double fraction, int height);

struct CatalogSettings {
    double tolerance = 1.0;   // largest |measured - predicted| an assignment accepts
    double threshold = -99.0; // log10 intensity that } and { require
    double fixed_unc = 0.0;   // > 0: written instead of the fit's error
    double weight = 1.0;
    bool equal_weights = false; // blends: equal weights instead of weights by predicted intensity
    std::string lin_path;       // empty: not asked yet
};

struct LineRef {
    std::size_t catalog = 0, line = 0;
    bool operator==(const LineRef&) const = default;
    auto operator<=>(const LineRef&) const = default;
};

// An assigned line as the last comparison with new predictions found it.
struct LineAgreement {
    LineRef line;
    Agreement agreement = Agreement::Within1;
};
// The bar colours of assigned lines after a comparison: within 1 error light
// green, within 3 yellow, beyond light red (white without a comparison).
inline constexpr int AGREEMENT_COLORS[] = {10, 14, 12};

struct CatalogSession {
    std::vector<Catalog> catalogs;
    // The unit the spectrum is taken to be in; MHz until choose_unit decides.
    FrequencyUnit unit = FrequencyUnit::MHz;
    // Indices of lines present in the assignment file, per catalogue, sorted.
    std::vector<std::vector<std::size_t>> assigned;
    CatalogSettings settings;
    bool overlay_on = true;
    StickScale scale = StickScale::Linear;
    bool startup_opened = false;
    // After a catalogue was read again: the assigned lines that the
    // assignment file's records matched, sorted, with how far each lies from
    // its new prediction. A line assigned since shows white again.
    std::vector<LineAgreement> agreement;

    const PredictedLine& line(LineRef r) const { return catalogs[r.catalog].lines()[r.line]; }
    // MHz per unit of the spectrum: 1, or MHZ_PER_WAVENUMBER.
    double mhz_per_unit() const {
        return unit == FrequencyUnit::Wavenumber ? MHZ_PER_WAVENUMBER : 1.0;
    }
    // A line's frequency and uncertainty in the spectrum's unit.
    double frequency(LineRef r) const { return line(r).freq / mhz_per_unit(); }
    double uncertainty(LineRef r) const { return line(r).unc / mhz_per_unit(); }
    // Decides the spectrum's unit from the spectrum's frequency range
    // [first, last]: the file does not say it. The spectrum is in cm-1 when
    // more predicted lines of the open catalogues fall into it read as cm-1
    // than read as MHz; otherwise (no lines either way included) in MHz, the
    // unit of the catalogue format and of the spectrometers. Costs a few
    // searches per catalogue.
    void choose_unit(double first, double last);
    bool empty() const;
    // Adds a catalogue with the next colour.
    void add(Catalog c);
    void mark_assigned(LineRef r);
    // The agreement of an assigned line; none without a comparison of it.
    std::optional<Agreement> agreement_of(LineRef r) const;
};

// The prediction nearest to f over all catalogues. Of equally distant ones the
// stronger wins, then the earlier catalogue, then the earlier line.
std::optional<LineRef> nearest_prediction(const CatalogSession& s, double f);
// All predictions within `tolerance` of f, nearest first (ties as above).
std::vector<LineRef> predictions_within(const CatalogSession& s, double f, double tolerance);
// `found` (predictions near a line measured at f with error `error`) ranked
// for the operator: by |o-c| over the combined uncertainty (the prediction's
// and the measurement's, in quadrature) to the one decimal shown, then the
// stronger first, then as
// predictions_within orders them. With no uncertainty either way, by |o-c|.
struct RankedPrediction {
    LineRef line;
    double score = 0; // |o-c| / uncertainty
};
std::vector<RankedPrediction> rank_predictions(const CatalogSession& s,
                                               const std::vector<LineRef>& found, double f,
                                               double error);
// The first prediction above f (below f for `previous`) over all catalogues,
// limited to [low, high] and to log intensities of at least `threshold`.
std::optional<LineRef> adjacent_prediction(const CatalogSession& s, double f, bool previous,
                                           double low, double high, double threshold);

// The identification row (80 columns): catalogue number, frequency +- its
// uncertainty, log intensity, observed minus calculated when `observed` is
// given, quantum numbers, and the line's label. Frequencies are in the
// spectrum's unit, with 4 decimals in MHz and 6 in cm-1, and the unit is named
// after the uncertainty where it is not plain MHz: "cm-1" (a cm-1 line matched
// in cm-1), "cm-1<MHz" and "MHz<cm-1" (converted from the catalogue's unit);
// "exp" follows for a laboratory frequency.
std::string identification_row(const CatalogSession& s, LineRef r, std::optional<double> observed);

// Draws the sticks of every catalogue over [flow, fhigh] into the plot area of
// `width` x `height` pixels (whose left and right edges are flow and fhigh):
// per pixel column only the strongest line of each catalogue, so the cost is
// O(columns x log lines), whatever the catalogues hold.
void draw_overlay(Window& w, const CatalogSession& s, double flow, double fhigh, int width,
                  int height);

} // namespace korax

// Fits at the predictions: every member of a series fitted with the profile
// fit at its reference position (the prediction plus the series' trend), the
// review's decision for each, and the records of the members taken. The
// engine of the series view's A and Y and of `korax assign`.
#pragma once

#include "analysis/profile_fit.h"
#include "catalog/assignments.h"
#include "catalog/catalog.h"
#include "series/fit_reading.h"
#include "series/review.h"
#include "series/series.h"
#include "series/trend.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace korax {

// The points of a spectrum, 1-based with ascending x.
struct SpectrumPoints {
    std::span<const double> x;
    std::span<const std::int32_t> y;
    std::int32_t npts = 0;
};

// The frequencies an assignment file holds, by transition: the first record of
// each, in MHz (a record with a negative uncertainty is in cm-1).
struct LinFrequencies {
    std::map<QnFields, double> mhz;
    std::string error; // why the file could not be read to its end; empty: read
};
LinFrequencies lin_frequencies(const std::string& path);

// Per member of `series`: the frequency the file holds for it, in the
// spectrum's unit (frequencies in MHz divided by `mhz_per_unit`); nullopt
// where it holds none.
std::vector<std::optional<double>> measured_members(const Series& series, const Catalog& catalog,
                                                    const LinFrequencies& lin, double mhz_per_unit);

// The trend of the members measured.
Trend series_trend(const Series& series, const Catalog& catalog, double mhz_per_unit,
                   const std::vector<std::optional<double>>& measured);

struct SeriesFitSettings {
    ProfileFitSettings fit;
    // The fit's lines are the catalogues' predictions near the position, moved
    // by the member's trend, instead of the lines the fit finds.
    bool at_predictions = false;
    double tolerance = 1.0; // largest |fitted - reference| taken, in the spectrum's unit
    double mhz_per_unit = 1.0;
    // Only members of at least this log intensity are fitted.
    double threshold = -1e30;
    // The trend is refitted with the members taken and the others fitted
    // again at their new reference, until no further member is taken or this
    // many rounds ran.
    int rounds = 4;
    int threads = 1; // the fits of a round run on this many threads
};

struct MemberFit {
    std::size_t member = 0; // into Series::members
    double prediction = 0, reference = 0;
    FitReading fit;
    ReviewDecision decision;
    bool take = false; // as decided; the operator may turn it over
    int line = -1;     // members that share one fitted line have the same number
};

// Fits every member of `series` that lies in the spectrum, is not measured
// (`measured`, per member), reaches the threshold and is `wanted` (per
// member; empty: all), in the order of the members. `catalogs` are all open
// catalogues (their predictions near a line make it a possible blend),
// `series_catalog` the one of the series.
std::vector<MemberFit> fit_series(const Series& series, const std::vector<Catalog>& catalogs,
                                  std::size_t series_catalog, const SpectrumPoints& points,
                                  const SeriesFitSettings& settings,
                                  const std::vector<std::optional<double>>& measured,
                                  const std::vector<bool>& wanted = {});

// Where the line of a member is looked for: the point of the largest
// excursion of sign `sign` (+1 up, -1 down, 0 either) from the level of the
// points within `tolerance` of `reference` (their median), on the points
// smoothed over five; the reference itself when it holds fewer than nine
// points. A line's central lobe is the largest excursion near it of its sign,
// where a climb from the reference would end on a side lobe of a line a few
// widths away.
struct Excursion {
    double position = 0;
    double size = 0; // signed, from the level
};
Excursion seek_line(const SpectrumPoints& points, double reference, double tolerance, int sign);

// One fit of a member at `position`, read for the review: what the view's X
// and the engine both do.
FitReading fit_member(const Series& series, const std::vector<Catalog>& catalogs,
                      std::size_t series_catalog, std::size_t member, double position,
                      double trend_shift, const SpectrumPoints& points,
                      const SeriesFitSettings& settings);

struct RecordSettings {
    double fixed_unc = 0; // > 0: written instead of the fit's error
    double weight = 1;
    bool equal_weights = false; // of a blend
    std::string comment;        // the spectrum's name
    FrequencyUnit unit = FrequencyUnit::MHz;
};

struct SeriesRecord {
    Assignment assignment;
    std::size_t fit = 0; // the entry of the fits it is of
    double freq = 0, unc = 0, weight = 1;
    int weight_decimals = 4;
};
struct SeriesRecords {
    std::vector<SeriesRecord> records;
    std::string error; // why none can be written; empty: all can
};

// The records of the fits taken, in the members' order, as T writes them: a
// member alone with the weight given, members sharing one line as a blend of
// that line (the frequency and error of the best determined of them, weights
// by predicted intensity, or equal).
SeriesRecords taken_records(const Series& series, const Catalog& catalog,
                            const std::vector<MemberFit>& fits, const RecordSettings& settings);

} // namespace korax

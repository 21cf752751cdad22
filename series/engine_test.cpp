// The fits at the predictions on a synthetic series of known centres: lines
// of the second-derivative shape with noise, predictions off by a smooth
// function of the order reaching five line widths, one member missing from
// the spectrum and one with a line beside it; and the records of the members
// taken, read back as the fitting program reads them.
#include "series/engine.h"

#include "testing/test_catalog_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

namespace korax {
namespace {

constexpr int MEMBERS = 40;
constexpr double HALF_WIDTH = 0.25; // of the Lorentzian, MHz
constexpr double LOBE = 0.654 * HALF_WIDTH;

double true_centre(int k) {
    return 1100.0 + 45.0 * k + 0.01 * k * k;
}
// Observed minus calculated: half a width below at the first member, five
// above at the last.
double o_c(int k) {
    const double x = k / double(MEMBERS - 1);
    return LOBE * (-0.5 + 5.5 * x * x);
}

struct Synthetic {
    std::vector<double> x;
    std::vector<std::int32_t> y;
    std::int32_t npts = 0;
    std::vector<Catalog> catalogs;
    Series series;
};

// Points 1000..3000 MHz every 0.05; the member k = 20 left out, a line of
// 0.8 times its height 1.2 widths above member 30.
Synthetic make(std::uint64_t seed) {
    Synthetic s;
    s.npts = 40000;
    s.x.assign(std::size_t(s.npts) + 2, 0);
    s.y.assign(std::size_t(s.npts) + 2, 0);
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0, 12);
    std::vector<double> y(s.x.size(), 0);
    for (std::int32_t i = 1; i <= s.npts; ++i) {
        s.x[std::size_t(i)] = 1000.0 + 0.05 * (i - 1);
        y[std::size_t(i)] = 200 + noise(random);
    }
    const auto add = [&](double centre, double height) {
        for (std::int32_t i = 1; i <= s.npts; ++i) {
            const double t = (s.x[std::size_t(i)] - centre) / HALF_WIDTH;
            const double u = t * t + 1;
            y[std::size_t(i)] += height * (4 - 3 * u) / (u * u * u);
        }
    };
    std::string cat;
    for (int k = 0; k < MEMBERS; ++k) {
        if (k != 20) add(true_centre(k), 3000);
        if (k == 30) add(true_centre(k) + 1.2 * LOBE, 2400);
        cat += testing::prediction_line(true_centre(k) - o_c(k), k + 10);
    }
    for (std::int32_t i = 1; i <= s.npts; ++i)
        s.y[std::size_t(i)] = static_cast<std::int32_t>(std::trunc(y[std::size_t(i)]));
    // The catalogue as read from its lines.
    std::vector<PredictedLine> lines;
    for (std::size_t at = 0; at < cat.size();) {
        const std::size_t end = cat.find('\n', at);
        const auto r = parse_catalog_line(std::string_view(cat).substr(at, end - at));
        at = end + 1;
        PredictedLine p;
        p.freq = r->freq;
        p.unc = static_cast<float>(r->unc);
        p.lgint = static_cast<float>(r->lgint);
        p.qn_text = r->qn_text;
        p.qnfmt = static_cast<std::int16_t>(r->qnfmt);
        lines.push_back(p);
    }
    s.catalogs.resize(1);
    s.catalogs[0].set_lines(std::move(lines), {""});
    const SeriesIndex index(s.catalogs[0]);
    s.series = find_series(index, 0, candidate_steps(index, 0).front().step);
    return s;
}

TEST(SeriesEngine, FromThreeMeasuredMembersEveryLineIsFoundAndEveryDoubtIsSkipped) {
    int cases = 0;
    for (std::uint64_t seed : {1, 2, 3}) {
        const Synthetic s = make(seed);
        ASSERT_EQ(std::size_t(MEMBERS), s.series.members.size());
        std::vector<std::optional<double>> measured(MEMBERS);
        for (int k : {0, 4, 9})
            measured[std::size_t(k)] = true_centre(k);
        SeriesFitSettings settings;
        settings.tolerance = 3 * LOBE;
        const auto fits =
            fit_series(s.series, s.catalogs, 0, {s.x, s.y, s.npts}, settings, measured);
        ASSERT_EQ(std::size_t(MEMBERS - 3), fits.size());
        for (const MemberFit& f : fits) {
            const int k = s.series.members[f.member].order;
            SCOPED_TRACE("seed " + std::to_string(seed) + ", member " + std::to_string(k));
            if (k == 20) {
                // No line: whatever the fit found lies beyond the tolerance,
                // was refused, or is flagged.
                EXPECT_FALSE(f.take);
                continue;
            }
            const bool right = f.fit.fitted && std::abs(f.fit.centre - true_centre(k)) < LOBE / 8;
            if (k == 30) {
                EXPECT_TRUE(!f.take || right) << flags_text(f.fit);
                continue;
            }
            // Alone, the line is found, and its error is honest: the true
            // centre within four of it.
            EXPECT_TRUE(f.take) << f.decision.reason << " " << flags_text(f.fit);
            EXPECT_TRUE(right) << f.fit.centre << " for " << true_centre(k);
            EXPECT_LT(std::abs(f.fit.centre - true_centre(k)), 4 * f.fit.error);
            ++cases;
        }
    }
    EXPECT_EQ(3 * (MEMBERS - 5), cases);
}

TEST(SeriesEngine, WithoutMeasuredMembersTheTrendIsBuiltUpFromTheNearOnes) {
    const Synthetic s = make(4);
    SeriesFitSettings settings;
    settings.tolerance = 3 * LOBE; // the o-c of the last members is five widths
    const auto fits = fit_series(s.series, s.catalogs, 0, {s.x, s.y, s.npts}, settings,
                                 std::vector<std::optional<double>>(MEMBERS));
    int taken = 0;
    for (const MemberFit& f : fits) {
        const int k = s.series.members[f.member].order;
        if (!f.take) continue;
        ++taken;
        EXPECT_LT(std::abs(f.fit.centre - true_centre(k)), LOBE / 8) << "member " << k;
    }
    // Every member but the missing one and the one beside a stray line.
    EXPECT_GE(taken, MEMBERS - 2);
}

TEST(SeriesEngine, SharedLinesAreWrittenAsABlendAndRecordsReadBack) {
    const Synthetic s = make(5);
    std::vector<MemberFit> fits(3);
    for (std::size_t i = 0; i < fits.size(); ++i) {
        fits[i].member = i;
        fits[i].take = true;
        fits[i].fit.fitted = true;
        fits[i].fit.centre = 1100.123456 + double(i);
        fits[i].fit.error = 0.0012 + 0.0001 * double(i);
    }
    // Members 1 and 2 on one line: its better determined fit is written for both.
    fits[1].line = fits[2].line = 0;
    fits[2].fit.centre = fits[1].fit.centre + 0.01;
    RecordSettings rs;
    rs.comment = "scan.001";
    const SeriesRecords made = taken_records(s.series, s.catalogs[0], fits, rs);
    ASSERT_TRUE(made.error.empty());
    ASSERT_EQ(3u, made.records.size());
    const auto a = record_numbers(made.records[0].assignment.record);
    const auto b = record_numbers(made.records[1].assignment.record);
    const auto c = record_numbers(made.records[2].assignment.record);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(1.0, a->weight);
    EXPECT_EQ(b->freq, c->freq);
    EXPECT_NEAR(fits[1].fit.centre, b->freq, 5e-5); // to the error's second digit
    EXPECT_NEAR(1.0, b->weight + c->weight, 1e-12);
    EXPECT_TRUE(same_blend(*b, *c));
    EXPECT_NEAR(fits[0].fit.centre, a->freq, 5e-5);
    EXPECT_NEAR(0.0012, a->unc, 1e-9);
    // A fixed uncertainty goes in instead, and a fit without an error cannot.
    rs.fixed_unc = 0.02;
    EXPECT_NEAR(0.02,
                record_numbers(
                    taken_records(s.series, s.catalogs[0], fits, rs).records[0].assignment.record)
                    ->unc,
                1e-12);
    rs.fixed_unc = 0;
    fits[0].fit.error = 0;
    EXPECT_FALSE(taken_records(s.series, s.catalogs[0], fits, rs).error.empty());
}

class SeriesLin : public CatalogFile {};

// The same series over a spectrum in wavenumbers, its catalogue in MHz, as C
// matches them: the members taken are the true lines, and their records are
// in cm-1 with a negative uncertainty, read back to the same frequency.
TEST_F(SeriesLin, ASpectrumInWavenumbersAndACatalogueInMHz) {
    Synthetic s = make(6);
    for (double& x : s.x)
        x /= MHZ_PER_WAVENUMBER;
    std::vector<std::optional<double>> measured(MEMBERS);
    for (int k : {0, 4, 9})
        measured[std::size_t(k)] = true_centre(k) / MHZ_PER_WAVENUMBER;
    SeriesFitSettings settings;
    settings.tolerance = 3 * LOBE / MHZ_PER_WAVENUMBER;
    settings.mhz_per_unit = MHZ_PER_WAVENUMBER;
    auto fits = fit_series(s.series, s.catalogs, 0, {s.x, s.y, s.npts}, settings, measured);
    int taken = 0;
    for (const MemberFit& f : fits)
        if (f.take) {
            ++taken;
            const int k = s.series.members[f.member].order;
            EXPECT_LT(std::abs(f.fit.centre * MHZ_PER_WAVENUMBER - true_centre(k)), LOBE / 8)
                << "member " << k;
        }
    EXPECT_GE(taken, MEMBERS - 5);
    RecordSettings rs;
    rs.unit = FrequencyUnit::Wavenumber;
    const SeriesRecords made = taken_records(s.series, s.catalogs[0], fits, rs);
    ASSERT_TRUE(made.error.empty());
    std::string text;
    for (const SeriesRecord& r : made.records) {
        EXPECT_LT(record_numbers(r.assignment.record)->unc, 0) << r.assignment.record;
        text += r.assignment.record + "\n";
    }
    const LinFrequencies lin = lin_frequencies(write("cm.lin", text));
    ASSERT_EQ(made.records.size(), lin.mhz.size());
    for (const SeriesRecord& r : made.records)
        EXPECT_NEAR(
            r.freq * MHZ_PER_WAVENUMBER,
            lin.mhz.at(line_fields(s.catalogs[0].lines()[s.series.members[fits[r.fit].member].line])
                           .value()),
            MHZ_PER_WAVENUMBER * 1e-6);
}

TEST_F(SeriesLin, TheMeasuredFrequenciesOfAFileInBothUnits) {
    const std::string path =
        write("a.lin", "! made elsewhere\n"
                       " 11  0 10  0                          1100.1234    0.0010   1.0000\r\n"
                       "\n"
                       " 12  0 11  0                             0.0400   -0.0001   1.0000\n"
                       " 11  0 10  0                          1200.0000    0.0010   1.0000\n");
    const LinFrequencies lin = lin_frequencies(path);
    EXPECT_TRUE(lin.error.empty());
    ASSERT_EQ(2u, lin.mhz.size());
    EXPECT_EQ(1100.1234, lin.mhz.at(QnFields{11, 0, 10, 0}));
    EXPECT_DOUBLE_EQ(0.04 * MHZ_PER_WAVENUMBER, lin.mhz.at(QnFields{12, 0, 11, 0}));
    EXPECT_FALSE(lin_frequencies(write("b.lin", "not a record\n")).error.empty());
    EXPECT_TRUE(lin_frequencies((dir / "none.lin").string()).mhz.empty());
}

} // namespace
} // namespace korax

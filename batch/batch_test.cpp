// The batch commands' pieces without a window: the noise estimate, conversion,
// the information table and the results paths.
#include "analysis/smooth.h"
#include "batch/commands.h"
#include "batch/processing.h"
#include "input/pairs.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace korax {
namespace {

double plain_deviation(const std::vector<std::int32_t>& y, std::int32_t n) {
    double sum = 0, sum2 = 0;
    for (std::int32_t i = 1; i <= n; ++i) {
        sum += y[std::size_t(i)];
        sum2 += double(y[std::size_t(i)]) * y[std::size_t(i)];
    }
    const double mean = sum / n;
    return std::sqrt(sum2 / n - mean * mean);
}

TEST(NoiseDeviation, MatchesTheNoiseUnderStrongLines) {
    // White noise on a slow drift with strong narrow lines every 500 points:
    // the robust estimate must find the deviation of the noise alone, also
    // after smoothing, where it is measured directly on the smoothed noise.
    // (Noise of a few units would come out smaller than estimated: each
    // smoothed value is truncated toward zero.)
    const std::int32_t n = 200000;
    std::mt19937 random(11);
    std::normal_distribution<double> gauss(0.0, 400.0);
    std::vector<std::int32_t> noise(n + 2), spectrum(n + 2);
    for (std::int32_t i = 1; i <= n; ++i) {
        noise[std::size_t(i)] = static_cast<std::int32_t>(std::lround(gauss(random)));
        const double x = (i % 500) - 250.0;
        const double line = 30000.0 * std::exp(-x * x / 8.0);
        const double drift = 5000.0 * std::sin(i / 20000.0);
        spectrum[std::size_t(i)] = noise[std::size_t(i)] + static_cast<std::int32_t>(line + drift);
    }
    const struct {
        std::int32_t smooth;
        double tolerance; // relative
    } table[] = {{0, 0.02}, {7, 0.02}, {25, 0.02}, {101, 0.03}};
    for (const auto& row : table) {
        std::vector<std::int32_t> smoothed = noise;
        if (row.smooth) {
            std::vector<float> coef(std::size_t(row.smooth));
            smoothing_coefficients(row.smooth / 2, coef);
            smooth_pass(noise, smoothed, n, coef);
        }
        const double truth = plain_deviation(smoothed, n);
        EXPECT_NEAR(truth, noise_deviation(spectrum, n, row.smooth), row.tolerance * truth)
            << "smoothed with " << row.smooth;
    }
}

Spectrum made_spectrum() {
    Spectrum sp;
    sp.name = "made.001";
    sp.header.clear();
    set_field(sp.header.COMENT, "CH3CN  J=12-11  (made)");
    sp.npts = 5;
    sp.freq = {0, 239999.95, 240000.0000000001, 1e-300, -7.25, 1.0 / 3.0, 0};
    sp.intens = {0, -32768, 32767, 0, -1, 123456789, 0};
    return sp;
}

TEST(Convert, TextKeepsEveryValue) {
    const Spectrum sp = made_spectrum();
    const std::string text = ascii_image(sp);
    // The comment first, at its full width, as every reader of the text takes it.
    ASSERT_EQ(0u,
              text.rfind("CH3CN  J=12-11  (made)" + std::string(50, ' ') + " |PELMO header| ", 0));
    PairScanner pairs(std::string_view(text).substr(text.find('\n') + 1));
    for (std::int32_t i = 1; i <= sp.npts; ++i) {
        const auto p = pairs.next();
        ASSERT_TRUE(p.has_value()) << i;
        EXPECT_EQ(sp.freq[std::size_t(i)], p->x) << i; // bit for bit
        EXPECT_EQ(float(sp.intens[std::size_t(i)]), p->y) << i;
    }
    EXPECT_FALSE(pairs.next().has_value());
}

TEST(Info, KeysAndJson) {
    Spectrum sp = made_spectrum();
    sp.header.GAIN = 0.05f; // stored in V; shown in mV
    sp.header.PRESS = NAN;
    sp.header.IDAY = 3;
    sp.header.IMONTH = 11;
    sp.header.IYEAR = 1999;
    const std::string text = info_text(sp);
    for (const char* line : {"\ncomment: CH3CN  J=12-11  (made)\n", "\ngain_mV: 50\n",
                             "\ndate: 1999-11-03\n", "\npoints: 5\n", "\nformat: PELMO\n"})
        EXPECT_NE(std::string::npos, text.find(line)) << line;
    const auto j = nlohmann::json::parse(info_json(sp));
    EXPECT_EQ(50.0, j["gain_mV"].get<double>());
    EXPECT_TRUE(j["pressure_mTorr"].is_null());
    EXPECT_EQ(5, j["points"].get<int>());
    EXPECT_EQ("made.001", j["file"].get<std::string>());
    EXPECT_EQ(false, j["axis_linearised"].get<bool>());
    EXPECT_EQ("1999-11-03", j["date"].get<std::string>());
}

TEST(Info, TextSpectraHoldNoRecordingParameters) {
    Spectrum sp = made_spectrum();
    sp.format = Spectrum::Format::Ascii;
    sp.linearised = true;
    sp.header.PTSSEC = 51.0f; // what the text reader makes up
    auto j = nlohmann::json::parse(info_json(sp));
    for (const char* key : {"date", "time", "sample", "points_per_second", "lamp", "gain_mV"})
        EXPECT_TRUE(j[key].is_null()) << key;
    EXPECT_EQ("CH3CN  J=12-11  (made)", j["comment"].get<std::string>());
    EXPECT_EQ(true, j["axis_linearised"].get<bool>());
    EXPECT_NE(std::string::npos, info_text(sp).find("\npoints_per_second: \n"));
    // A text written by korax convert carries them.
    sp.header_carried = true;
    j = nlohmann::json::parse(info_json(sp));
    EXPECT_EQ(51.0, j["points_per_second"].get<double>());
}

TEST(Info, TextStepToThePrecisionOfItsFrequencies) {
    const struct {
        double fstart, fend;
        std::int32_t npts;
        double expected;
    } table[] = {
        {239500.0, 239649.95, 3000, 0.05},         // 0.05000000000000388 as computed
        {0, 4, 4, 1.3},                            // whole frequencies, three steps
        {1.5e-7, 3.0e-7, 3, 7.5e-8},               // exponent form
        {100.125, 200.25, 1001, 0.100125},         // exact at that precision
        {1e20, 3e20, 11, 2e19},                    // negative decimals
        {239500.0, 239649.95, 3000000, 4.9983e-5}, // 2 + 7 decimals
    };
    for (const auto& row : table) {
        Spectrum sp = made_spectrum();
        sp.format = Spectrum::Format::Ascii;
        sp.npts = row.npts;
        sp.fstart = row.fstart;
        sp.fend = row.fend;
        sp.fstep = (row.fend - row.fstart) / (row.npts - 1);
        const auto j = nlohmann::json::parse(info_json(sp));
        EXPECT_EQ(row.expected, j["frequency_step"].get<double>()) << row.fend << " " << row.npts;
        // A stored step is shown as stored.
        sp.axis_carried = true;
        EXPECT_EQ(sp.fstep, nlohmann::json::parse(info_json(sp))["frequency_step"].get<double>());
    }
}

TEST(Peaks, ResultsPaths) {
    const struct {
        const char *spectrum, *dir, *expected;
    } table[] = {
        {"scans/a.001", "", "scans/a.001.peaks"},
        {"a.001", "", "a.001.peaks"},
        {"/data/x/a.001", "out", "out/a.001.peaks"},
        {"x\\a.001", "out/", "out/a.001.peaks"},
    };
    for (const auto& row : table)
        EXPECT_EQ(row.expected, results_path(row.spectrum, row.dir)) << row.spectrum;
}

} // namespace
} // namespace korax

namespace korax {
namespace {

// A spectrum of `npts` points from 240000 MHz in steps of 0.05, its
// intensities all zero, 1-based with the store's extra point.
Spectrum blank_spectrum(std::int32_t npts) {
    Spectrum sp;
    sp.npts = npts;
    sp.fstart = 240000;
    sp.fstep = 0.05;
    sp.fend = sp.fstart + (sp.npts - 1) * sp.fstep;
    sp.freq.assign(std::size_t(sp.npts) + 2, 0);
    sp.intens.assign(std::size_t(sp.npts) + 2, 0);
    for (std::int32_t i = 1; i <= sp.npts; ++i)
        sp.freq[std::size_t(i)] = sp.fstart + (i - 1) * sp.fstep;
    return sp;
}

// A spectrum of lines of one profile in memory, 1-based, every 400 points on
// a baseline of `level` plus a cosine of `curve` times the height with a
// period of 4000 points; noise of `noise` counts, rounded to whole counts.
// A line of `shape` with a lobe `lobe` points wide, scaled so that its
// largest lobe is `height` high, pointing up for a positive height.
class ScaledLine {
  public:
    ScaledLine(LineShape shape, double lobe) : m_shape(shape), m_w(widths_for_lobe(shape, lobe)) {
        for (double u = -30; u <= 30; u += 0.01)
            m_unit = std::max(m_unit, std::abs(shape_value(shape, u, m_w)));
        m_top = shape_value(shape, height_offset(shape, m_w), m_w) >= 0 ? 1 : -1;
    }
    // At `u` points from the centre.
    double operator()(double u, double height) const {
        return m_top * height / m_unit * shape_value(m_shape, u, m_w);
    }

  private:
    LineShape m_shape;
    LineWidths m_w;
    double m_unit = 0, m_top = 1;
};

// The spectrum's extremes, as a loaded one knows them.
void set_extremes(Spectrum& sp) {
    sp.iymin = *std::min_element(sp.intens.begin() + 1, sp.intens.begin() + sp.npts + 1);
    sp.iymax = *std::max_element(sp.intens.begin() + 1, sp.intens.begin() + sp.npts + 1);
}

struct MadeLines {
    Spectrum spectrum;
    std::vector<double> centres; // frequencies
};

MadeLines made_lines(LineShape shape, double height, double noise, double level, double curve,
                     int sign, int lines = 30) {
    MadeLines m;
    Spectrum& sp = m.spectrum;
    sp = blank_spectrum(400 * (lines + 1));
    std::mt19937 random(5);
    std::normal_distribution<double> gauss(0.0, noise);
    std::uniform_real_distribution<double> jitter(-0.5, 0.5);
    const ScaledLine line(shape, 10);
    std::vector<double> at;
    for (int k = 1; k <= lines; ++k)
        at.push_back(400.0 * k + jitter(random));
    for (std::int32_t i = 1; i <= sp.npts; ++i) {
        double v = level + curve * height * std::cos(2 * M_PI * i / 4000.0) + gauss(random);
        for (double c : at)
            if (std::abs(i - c) < 200) v += line(i - c, sign * height);
        // A recording holds 16 bits: the tops of the strongest lines are clipped.
        sp.intens[std::size_t(i)] = std::int32_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
    }
    set_extremes(sp);
    for (double c : at)
        m.centres.push_back(sp.fstart + (c - 1) * sp.fstep);
    return m;
}

TEST(ProfileScan, FindsEveryLineOnceWhateverTheBaselineSignAndCounts) {
    // The profile's scan against a local level, judged against the true
    // centres: every line found once, nothing else, each within four of its
    // errors, no error zero; lines so strong that their tops are clipped
    // among them.
    const struct {
        const char* name;
        LineShape shape;
        double height, noise, level, curve;
        int sign;
        bool dips;
        int degree;
    } table[] = {
        {"a few counts", {LineProfile::Lorentz, 2}, 8, 0.5, 100, 0, 1, false, 1},
        {"curved baseline", {LineProfile::Lorentz, 2}, 8000, 80, 0, 2, 1, false, 2},
        {"1f of the other phase", {LineProfile::Lorentz, 1}, 8000, 80, 1000, 0, -1, false, 1},
        {"dips found from the data", {LineProfile::Gauss, 0}, 8000, 80, 20000, 0, -1, false, 1},
        {"dips asked for", {LineProfile::Lorentz, 0}, 8000, 80, 20000, 0, -1, true, 1},
        // Their wings, dozens of lobe widths wide, are no lines of their own.
        {"clipped tops", {LineProfile::Lorentz, 2}, 80000, 40, 0, 0, 1, false, 1},
    };
    for (const auto& row : table) {
        MadeLines m = made_lines(row.shape, row.height, row.noise, row.level, row.curve, row.sign);
        PeaksSettings st;
        st.cutoff_sigma = 5;
        st.profile = ProfileFitSettings{row.shape, row.degree};
        st.dips = row.dips;
        const double noise = noise_deviation(m.spectrum.intens, m.spectrum.npts, 0);
        const auto levels = process_spectrum(m.spectrum, st);
        ASSERT_TRUE(levels);
        const PeakResults res = find_peaks(m.spectrum, *levels, st, noise);
        int found = 0, phantoms = 0, far = 0, zero = 0;
        for (const ProfileLine& p : res.profile_lines) {
            if (p.refusal) continue;
            double nearest = 1e9;
            for (double c : m.centres)
                if (std::abs(p.line.frequency - c) < std::abs(nearest))
                    nearest = p.line.frequency - c;
            if (std::abs(nearest) > 0.25) {
                ++phantoms;
                continue;
            }
            ++found;
            if (!(p.line.error > 0)) ++zero;
            if (std::abs(nearest) > 4 * p.line.error) ++far;
        }
        EXPECT_EQ(int(m.centres.size()), found) << row.name;
        EXPECT_EQ(0, phantoms) << row.name;
        EXPECT_LE(far, 1) << row.name;
        EXPECT_EQ(0, zero) << row.name;
        EXPECT_GE(*res.noise, QUANTISATION_NOISE) << row.name;
    }
}

TEST(ProfileScan, WeakLinesOnlyTheLocalLevelShowsAreFittedAndNoiseIsNot) {
    // Lines a few noise deviations high on a baseline that bends by more than
    // that: where it sags, only the local level shows them, and those places
    // are tentative, as are the noise's own bumps. The places refused before
    // any fit must be the noise's only: every line found once, none else.
    const struct {
        const char* name;
        LineShape shape;
        double sigmas; // the lines' height, in noise deviations
    } table[] = {
        {"lorentz2, 7 deviations", {LineProfile::Lorentz, 2}, 7},
        {"lorentz2, 10 deviations", {LineProfile::Lorentz, 2}, 10},
        {"gauss2, 7 deviations", {LineProfile::Gauss, 2}, 7},
        {"voigt2, 8 deviations", {LineProfile::Voigt, 2}, 8},
    };
    constexpr double noise_counts = 40;
    for (const auto& row : table) {
        MadeLines m =
            made_lines(row.shape, row.sigmas * noise_counts, noise_counts, 1000, 1.5, 1, 40);
        PeaksSettings st;
        st.cutoff_sigma = 5;
        st.profile = ProfileFitSettings{row.shape, 1};
        const double noise = noise_deviation(m.spectrum.intens, m.spectrum.npts, 0);
        const auto levels = process_spectrum(m.spectrum, st);
        ASSERT_TRUE(levels);
        const PeakResults res = find_peaks(m.spectrum, *levels, st, noise);
        const auto near = [](double a, double b) { return std::abs(a - b) < 0.25; };
        int tentative = 0;
        for (double c : m.centres)
            if (std::any_of(res.lines.begin(), res.lines.end(), [&](const FoundLine& l) {
                    return l.tentative && near(l.frequency, c);
                }))
                ++tentative;
        int found = 0, phantoms = 0;
        for (const ProfileLine& p : res.profile_lines) {
            if (p.refusal) continue;
            if (std::any_of(m.centres.begin(), m.centres.end(),
                            [&](double c) { return near(p.line.frequency, c); }))
                ++found;
            else
                ++phantoms;
        }
        // The case is what it says: many lines are tentative places, among
        // far more places of noise.
        EXPECT_GE(tentative, 10) << row.name;
        EXPECT_GT(res.candidates, m.centres.size()) << row.name;
        EXPECT_EQ(int(m.centres.size()), found) << row.name;
        EXPECT_EQ(0, phantoms) << row.name;
    }
}

TEST(ProfileScan, AWeakLineBesideAStrongOneIsFoundOnce) {
    // A line of 8 noise deviations 2 or 4 lobe widths beside one of 300, on a
    // baseline that sags under it: the places on the strong line's flank are
    // refused before any fit, the weak line's own is not.
    const LineShape shape{LineProfile::Lorentz, 2};
    const ScaledLine line(shape, 10);
    for (const double apart : {2.0, 4.0}) {
        Spectrum sp = blank_spectrum(8000);
        std::mt19937 random(11);
        constexpr double noise = 40;
        std::normal_distribution<double> gauss(0.0, noise);
        std::vector<double> at, heights;
        for (int k = 1; k <= 9; ++k) {
            at.push_back(800.0 * k);
            heights.push_back(300 * noise);
            at.push_back(800.0 * k + apart * 10);
            heights.push_back(8 * noise);
        }
        for (std::int32_t i = 1; i <= sp.npts; ++i) {
            double v = 1000 + 6 * noise * std::cos(2 * M_PI * i / 1600.0) + gauss(random);
            for (std::size_t k = 0; k < at.size(); ++k)
                if (std::abs(i - at[k]) < 300) v += line(i - at[k], heights[k]);
            sp.intens[std::size_t(i)] = std::int32_t(std::lround(v));
        }
        set_extremes(sp);
        PeaksSettings st;
        st.cutoff_sigma = 5;
        st.profile = ProfileFitSettings{shape, 1};
        const double deviation = noise_deviation(sp.intens, sp.npts, 0);
        const auto levels = process_spectrum(sp, st);
        ASSERT_TRUE(levels);
        const PeakResults res = find_peaks(sp, *levels, st, deviation);
        std::vector<int> times(at.size());
        int phantoms = 0;
        for (const ProfileLine& p : res.profile_lines) {
            if (p.refusal) continue;
            bool near = false;
            for (std::size_t k = 0; k < at.size(); ++k)
                if (std::abs(p.line.frequency - (sp.fstart + (at[k] - 1) * sp.fstep)) < 0.25) {
                    ++times[k];
                    near = true;
                }
            if (!near) ++phantoms;
        }
        for (std::size_t k = 0; k < at.size(); ++k)
            EXPECT_EQ(1, times[k]) << apart << " lobe widths apart, line " << k;
        EXPECT_EQ(0, phantoms) << apart << " lobe widths apart";
    }
}

TEST(ProfileScan, AStrongLineTheSmoothingShowsAsTwoLobesIsMeasuredAtItsCentre) {
    // Smoothing four times as wide as a line shows one a thousand noise
    // deviations high as lobes either side of it, where weak lines of the
    // spectrum may stand: fitted first, each reads a window the strong
    // line's flank cuts, and fits the two as broad lines where neither is.
    // Every line must be found where it is, the strong ones to three of their
    // errors and with their own lobe width, and no other.
    const LineShape shape{LineProfile::Lorentz, 2};
    const ScaledLine line(shape, 6);
    Spectrum sp = blank_spectrum(12000);
    std::mt19937 random(3);
    constexpr double noise = 12;
    std::normal_distribution<double> gauss(0.0, noise);
    std::uniform_real_distribution<double> jitter(-0.5, 0.5);
    std::vector<double> at, heights;
    for (int k = 1; k <= 9; ++k) {
        const double c = 1200.0 * k + jitter(random);
        for (const auto& [offset, sigmas] : {std::pair{0.0, 1000.0}, {-38.0, 35.0}, {40.0, 25.0}}) {
            at.push_back(c + offset);
            heights.push_back(sigmas * noise);
        }
    }
    for (std::int32_t i = 1; i <= sp.npts; ++i) {
        double v = 500 + gauss(random);
        for (std::size_t k = 0; k < at.size(); ++k)
            if (std::abs(i - at[k]) < 400) v += line(i - at[k], heights[k]);
        sp.intens[std::size_t(i)] = std::int32_t(std::lround(v));
    }
    set_extremes(sp);
    PeaksSettings st;
    st.smooth = 25;
    st.baseline = 301;
    st.cutoff_sigma = 5;
    st.profile = ProfileFitSettings{shape, 1};
    const double deviation = noise_deviation(sp.intens, sp.npts, st.smooth);
    const auto levels = process_spectrum(sp, st);
    ASSERT_TRUE(levels);
    const PeakResults res = find_peaks(sp, *levels, st, deviation);
    std::vector<int> times(at.size());
    int phantoms = 0;
    for (const ProfileLine& p : res.profile_lines) {
        if (p.refusal) continue;
        bool near = false;
        for (std::size_t k = 0; k < at.size(); ++k) {
            const double truth = sp.fstart + (at[k] - 1) * sp.fstep;
            if (std::abs(p.line.frequency - truth) >= 2 * sp.fstep) continue;
            ++times[k];
            near = true;
            if (k % 3 == 0) {
                EXPECT_LE(std::abs(p.line.frequency - truth), 3 * p.line.error) << "line " << k;
                EXPECT_NEAR(6 * sp.fstep, *p.line.fwhh, 0.6 * sp.fstep) << "line " << k;
            }
        }
        if (!near) ++phantoms;
    }
    for (std::size_t k = 0; k < at.size(); ++k)
        EXPECT_EQ(1, times[k]) << "line " << k;
    EXPECT_EQ(0, phantoms);
}

TEST(ProfileScan, AStopKeepsTheLinesMeasuredAndSaysWhereItCame) {
    MadeLines m = made_lines({LineProfile::Lorentz, 2}, 8000, 80, 1000, 0, 1);
    PeaksSettings st;
    st.cutoff_sigma = 5;
    st.profile = ProfileFitSettings{};
    const double noise = noise_deviation(m.spectrum.intens, m.spectrum.npts, 0);
    const auto levels = process_spectrum(m.spectrum, st);
    ASSERT_TRUE(levels);
    std::atomic<bool> stop{false};
    RefineControl control;
    control.stop = &stop;
    std::size_t last = 0;
    control.progress = [&](std::size_t done, std::size_t total) {
        last = done;
        EXPECT_LE(done, total);
        if (done == 10) stop = true;
    };
    const PeakResults res = find_peaks(m.spectrum, *levels, st, noise, control);
    EXPECT_TRUE(res.interrupted);
    // The line in work when the stop came is finished.
    EXPECT_EQ(11u, res.examined);
    EXPECT_EQ(11u, last);
    EXPECT_EQ(m.centres.size(), res.candidates);
    ASSERT_EQ(11u, res.profile_lines.size());
    for (std::size_t k = 0; k < 11; ++k)
        EXPECT_NEAR(m.centres[k], res.profile_lines[k].line.frequency, 0.05);
    const auto note =
        res.text.find("   ** interrupted: the lines from here on were not examined\r\n");
    ASSERT_NE(std::string::npos, note) << res.text;
    EXPECT_NEAR(m.centres[11], std::stod(res.text.substr(note - 14, 14)), 0.5);
    const auto total = res.text.find("Total number of identified lines =");
    ASSERT_NE(std::string::npos, total);
    EXPECT_EQ(11, std::stoi(res.text.substr(total + 34, 12)));
}

TEST(ProfileScan, TheSameLinesOnOneProcessorOrSeveral) {
    // Clipped lines whose wings come off the points beside them, ordinary and
    // weak ones, pairs closer than their widths; more than enough for the run
    // to be cut in parts. Every 150 points the parts read what those before
    // them changed and run again; every 1500 they do not. Every number is the
    // same on one processor as on several, and a stop keeps lines that the
    // whole run has too.
    for (const int spacing : {150, 1500}) {
        Spectrum sp = blank_spectrum(spacing * 120);
        const LineShape shape{LineProfile::Lorentz, 2};
        const LineWidths w = widths_for_lobe(shape, 10);
        std::mt19937 random(11);
        std::normal_distribution<double> gauss(0.0, 40);
        std::vector<double> y(std::size_t(sp.npts) + 1, 0.0);
        for (int k = 1; k < 120; ++k) {
            const double heights[] = {50000, 6000, 600, 3000};
            const double c = double(spacing) * k + 0.3 * (k % 7);
            const double h = heights[k % 4];
            for (double centre :
                 k % 9 == 0 ? std::vector<double>{c, c + 9} : std::vector<double>{c})
                for (std::int32_t i = std::max(1, int(centre) - 1500);
                     i <= std::min(sp.npts, int(centre) + 1500); ++i)
                    y[std::size_t(i)] += h * shape_value(shape, i - centre, w);
        }
        for (std::int32_t i = 1; i <= sp.npts; ++i) {
            sp.intens[std::size_t(i)] = std::int32_t(
                std::lround(std::clamp(y[std::size_t(i)] + gauss(random), -32768.0, 32767.0)));
        }
        set_extremes(sp);
        const double noise = noise_deviation(sp.intens, sp.npts, 0);
        auto run = [&](int threads, const RefineControl& control = {}) {
            Spectrum copy = sp;
            PeaksSettings st;
            st.cutoff_sigma = 5;
            st.profile = ProfileFitSettings{};
            st.threads = threads;
            const auto levels = process_spectrum(copy, st);
            EXPECT_TRUE(levels);
            return find_peaks(copy, *levels, st, noise, control);
        };
        auto same = [](const ProfileLine& a, const ProfileLine& b) {
            return a.line.frequency == b.line.frequency && a.line.error == b.line.error &&
                   a.line.intensity == b.line.intensity && a.line.fwhh == b.line.fwhh &&
                   a.refusal == b.refusal && a.flags.any() == b.flags.any() &&
                   a.components == b.components;
        };
        const PeakResults one = run(1);
        ASSERT_GT(one.candidates, 3 * 64u);
        for (int threads : {2, 3}) {
            RefineControl counting;
            counting.progress = [&](std::size_t done, std::size_t total) {
                EXPECT_LE(done, total) << spacing << " " << threads;
            };
            const PeakResults several = run(threads, counting);
            EXPECT_EQ(one.text, several.text) << spacing << " " << threads;
            ASSERT_EQ(one.profile_lines.size(), several.profile_lines.size())
                << spacing << " " << threads;
            for (std::size_t k = 0; k < one.profile_lines.size(); ++k)
                EXPECT_TRUE(same(one.profile_lines[k], several.profile_lines[k]))
                    << spacing << " " << threads << " " << k;
            EXPECT_EQ(one.below_cutoff, several.below_cutoff) << spacing << " " << threads;
        }
        std::atomic<bool> stop{false};
        RefineControl control;
        control.stop = &stop;
        control.progress = [&](std::size_t done, std::size_t) {
            if (done >= one.candidates / 3) stop = true;
        };
        const PeakResults stopped = run(2, control);
        EXPECT_TRUE(stopped.interrupted);
        EXPECT_LT(stopped.examined, stopped.candidates);
        for (const ProfileLine& p : stopped.profile_lines)
            EXPECT_TRUE(std::any_of(one.profile_lines.begin(), one.profile_lines.end(),
                                    [&](const ProfileLine& q) { return same(p, q); }))
                << spacing << " " << p.line.frequency;
    }
}

TEST(LocalLevel, FollowsABentBaselineAndNotTheLines) {
    // A cosine of 16000 counts over 4000 points, lines of 8000 every 400
    // points with their negative lobes, noise 80: the level stays within 1.5
    // noise of the baseline beyond the lines' wings (10 lobe widths).
    const std::int32_t n = 20000;
    std::vector<std::int32_t> y(std::size_t(n) + 2);
    std::vector<double> truth(std::size_t(n) + 1);
    const LineShape shape{LineProfile::Lorentz, 2};
    const LineWidths w = widths_for_lobe(shape, 10);
    const double unit = shape_value(shape, 0, w);
    std::mt19937 random(3);
    std::normal_distribution<double> gauss(0.0, 80.0);
    for (std::int32_t i = 1; i <= n; ++i) {
        truth[std::size_t(i)] = 16000 * std::cos(2 * M_PI * i / 4000.0);
        const double u = std::remainder(i - 200.0, 400.0);
        y[std::size_t(i)] = std::int32_t(std::lround(
            truth[std::size_t(i)] + 8000 * shape_value(shape, u, w) / unit + gauss(random)));
    }
    const std::vector<double> level = local_level(y, n, 112, 400);
    double worst = 0;
    for (std::int32_t i = 1; i <= n; ++i)
        if (std::abs(std::remainder(i - 200.0, 400.0)) > 100)
            worst = std::max(worst, std::abs(level[std::size_t(i - 1)] - truth[std::size_t(i)]));
    EXPECT_LT(worst, 120);
}

} // namespace
} // namespace korax

// The same lines on an MHz axis and on wavenumber axes near 2000 cm-1 of every
// step down to 1e-7: read from PELMO and text files (an uneven one resampled
// onto the even axis), found by PEAKFINDER and refined by the profile fit, and
// written to the results file. Measured in
// points from what the file says, a fine axis must find as many lines as the
// MHz one, put them where it does, and never write an error as zero.
#include "batch/processing.h"
#include "input/spectrum_file.h"
#include "output/pelmo_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace korax {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t POINTS = 30000;
constexpr int LINES = 100;

// 100 isolated second-derivative Lorentzians (half width 4 points, the shape a
// frequency-modulated spectrometer records) at known places between points,
// heights 150 to 1500 over white noise of 10: the intensities, 1-based, and
// the centres in points.
struct Lines {
    std::vector<std::int32_t> intens;
    std::vector<double> centres;
};

Lines make_lines() {
    std::mt19937_64 random(2026);
    std::uniform_real_distribution<double> place(-0.5, 0.5), height(150, 1500);
    std::normal_distribution<double> noise(0, 10);
    Lines l;
    std::vector<double> y(std::size_t(POINTS) + 1, 0.0);
    for (int k = 0; k < LINES; ++k) {
        const double centre = 200 + 296.0 * k + place(random);
        const double amplitude = height(random);
        l.centres.push_back(centre);
        for (std::int32_t i = std::max(1, int(centre) - 240);
             i <= std::min(POINTS, int(centre) + 240); ++i) {
            const double t = (i - centre) / 4.0, u = t * t + 1;
            y[std::size_t(i)] -= amplitude * (3 * u - 4) / (u * u * u);
        }
    }
    l.intens.assign(std::size_t(POINTS) + 1, 0);
    for (std::int32_t i = 1; i <= POINTS; ++i)
        l.intens[std::size_t(i)] = std::int32_t(std::trunc(y[std::size_t(i)] + noise(random)));
    return l;
}

struct Axis {
    double start, step;
};

enum class Form { Pelmo, Text, UnevenText };

// The lines as a PELMO file, or as two columns with the frequencies to a
// thousandth of the step; uneven, each frequency but the ends moved by up to
// 0.2 steps (the same in steps on every axis), so that the reader resamples
// the points onto the even axis.
std::string write_spectrum(const fs::path& folder, const Lines& l, Axis a, Form form) {
    char name[64];
    std::snprintf(name, sizeof name, "%g-%g-%d.%s", a.start, a.step, int(form),
                  form == Form::Pelmo ? "001" : "txt");
    const fs::path path = folder / name;
    std::ofstream out(path, std::ios::binary);
    const double end = a.start + (POINTS - 1) * a.step;
    if (form == Form::Pelmo) {
        SpectrumHeader h;
        h.clear();
        h.IDAY = 8;
        h.IMONTH = 12;
        h.IYEAR = 2026;
        const std::span<const std::int32_t> points(l.intens.data() + 1, std::size_t(POINTS));
        out << pelmo_file_image(h, points, a.start, end, a.step, save_scaling(points));
        return path.string();
    }
    const int decimals = std::max(5, 3 - int(std::floor(std::log10(a.step))));
    out << "synthetic lines\n";
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> offset(-0.2, 0.2);
    char line[96];
    for (std::int32_t i = 1; i <= POINTS; ++i) {
        const double moved = form == Form::UnevenText && i > 1 && i < POINTS ? offset(random) : 0;
        std::snprintf(line, sizeof line, "%.*f %d\n", decimals, a.start + (i - 1 + moved) * a.step,
                      l.intens[std::size_t(i)]);
        out << line;
    }
    return path.string();
}

// What a results file says of its lines: frequency and error of each fitted one.
struct Written {
    double frequency, error;
};

std::vector<Written> lines_of(const std::string& text) {
    std::vector<Written> lines;
    std::istringstream in(text);
    std::string row;
    bool table = false;
    while (std::getline(in, row)) {
        if (row.find("Frequency     Error") != std::string::npos) table = true;
        if (!table || row.find(" +-") == std::string::npos || row.find("Mean FWHH") != row.npos)
            continue;
        Written w{};
        std::string sign;
        std::istringstream fields(row);
        if (fields >> w.frequency >> sign >> w.error) lines.push_back(w);
    }
    return lines;
}

struct Measured {
    int found = 0, phantoms = 0, zero_errors = 0;
    double scatter = 0;          // rms of the written centres from the true ones, points
    std::vector<double> offsets; // per true line, written minus true, points (NaN: missed)
    std::vector<double> errors;  // per true line, the written error, points
};

Measured measure(const Lines& l, const std::string& path, Axis a, bool profile) {
    Spectrum sp;
    EXPECT_EQ("", load_spectrum(path, sp)) << path;
    PeaksSettings st;
    st.nfit = 9;
    st.cutoff_sigma = 5;
    if (profile) st.profile = ProfileFitSettings{};
    const double noise = noise_deviation(sp.intens, sp.npts, 0);
    const auto levels = process_spectrum(sp, st);
    EXPECT_TRUE(levels);
    const PeakResults res = find_peaks(sp, *levels, st, noise);
    const std::vector<Written> written = lines_of(res.text);
    Measured m;
    m.offsets.assign(l.centres.size(), std::nan(""));
    m.errors.assign(l.centres.size(), std::nan(""));
    std::vector<bool> matched(written.size(), false);
    double sum2 = 0;
    for (std::size_t k = 0; k < l.centres.size(); ++k) {
        std::size_t best = written.size();
        double nearest = 1; // a line more than a point away was not found
        for (std::size_t j = 0; j < written.size(); ++j) {
            const double d = (written[j].frequency - a.start) / a.step + 1 - l.centres[k];
            if (std::abs(d) < std::abs(nearest)) {
                nearest = d;
                best = j;
            }
        }
        if (best == written.size()) continue;
        matched[best] = true;
        ++m.found;
        m.offsets[k] = nearest;
        m.errors[k] = written[best].error / a.step;
        sum2 += nearest * nearest;
    }
    for (std::size_t j = 0; j < written.size(); ++j) {
        if (!matched[j]) ++m.phantoms;
        if (!(written[j].error > 0)) ++m.zero_errors;
    }
    m.scatter = m.found > 0 ? std::sqrt(sum2 / m.found) : 0;
    return m;
}

TEST(Wavenumbers, FineAxesMeasureTheLinesAsAnMhzAxisDoes) {
    const fs::path folder =
        fs::temp_directory_path() / ("korax-wavenumbers-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const Lines l = make_lines();
    const Axis mhz{240000, 0.05};
    const Axis fine[] = {{2000, 1e-5}, {2000, 1e-6}, {2000, 2e-7}, {2000, 1e-7}};
    for (Form form : {Form::Pelmo, Form::Text, Form::UnevenText})
        for (bool profile : {false, true}) {
            const char* forms[] = {"PELMO", "text", "uneven text"};
            const std::string how =
                std::string(forms[int(form)]) + (profile ? ", profile fit" : ", PEAKFINDER");
            const Measured reference =
                measure(l, write_spectrum(folder, l, mhz, form), mhz, profile);
            ASSERT_GE(reference.found, 95) << how;
            if (form != Form::UnevenText) {
                ASSERT_LE(reference.phantoms, 1) << how;
            }
            ASSERT_GT(reference.scatter, 0) << how;
            for (const Axis& a : fine) {
                char step[32];
                std::snprintf(step, sizeof step, ", step %g", a.step);
                const std::string at = how + step;
                const Measured m = measure(l, write_spectrum(folder, l, a, form), a, profile);
                // The figures, for whoever runs the test by hand.
                std::printf("%-24s found %3d of %d, scatter %.4f points (MHz axis %d, %.4f)\n",
                            at.c_str(), m.found, LINES, m.scatter, reference.found,
                            reference.scatter);
                EXPECT_GE(m.found, 95) << at;
                // Resampled points may show the profile fit a line beside a
                // line; the MHz axis sees the same ones.
                EXPECT_LE(m.phantoms, reference.phantoms) << at;
                EXPECT_EQ(0, m.zero_errors) << at << ": errors written as zero";
                EXPECT_NEAR(1, m.scatter / reference.scatter, 0.1)
                    << at << ": scatter " << m.scatter << " points against " << reference.scatter;
                // The same points give the same centres in points, as far as
                // two digits of the error write them (5 % of it at most).
                for (std::size_t k = 0; k < l.centres.size(); ++k) {
                    if (std::isnan(m.offsets[k]) || std::isnan(reference.offsets[k])) continue;
                    EXPECT_NEAR(reference.offsets[k], m.offsets[k],
                                0.05 * std::max(m.errors[k], reference.errors[k]) + 1e-3)
                        << at << ", line at point " << l.centres[k] << ", error " << m.errors[k]
                        << " points";
                }
            }
        }
    fs::remove_all(folder);
}

} // namespace
} // namespace korax

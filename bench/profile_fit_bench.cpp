// The profile fit measured on synthetic second-derivative lines with known
// centres, beside the O key's measurement and a reference least-squares fit of
// the true profile (bench/profile_fit_peer.py, scipy's curve_fit) on the very
// same lines. bench/profile_fit.sh runs the three steps:
//
//   profile_fit_bench lines DIR [LINES]  writes the lines (DIR/lines.tsv and the
//                                        intensities DIR/lines.i32), fits each with
//                                        the profile fit and the O key (DIR/korax.tsv)
//   profile_fit_bench table DIR          the table of every cell against the goals,
//                                        from DIR/korax.tsv and DIR/reference.tsv
//   profile_fit_bench time [FITS]        the time of one fit
//
// Grid: Gaussian, Lorentzian and Voigt (equal Gaussian and Lorentzian widths);
// lobe widths W = 5, 10, 20, 50 points at half height of the central lobe;
// signal to noise 10, 30, 100 (central lobe height over the noise's standard
// deviation); LINES lines a cell (200), on a baseline that drifts by half the
// line's height over 400 lobe widths; and blends of two equal lines one lobe
// width apart at signal to noise 30.
#include "analysis/lineshape.h"
#include "analysis/profile_fit.h"
#include "bench/timing.h"
#include "spectrum/store.h"
#include "testing/test_window.h"
#include "viewer/commands.h"
#include "viewer/display.h"
#include "viewer/measure.h"
#include "viewer/viewer_state.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace korax;

constexpr double HEIGHT = 20000; // of the central lobe, counts
constexpr double LEVEL = 2000;
constexpr double STEP = 0.01;
constexpr int WIDTHS[] = {5, 10, 20, 50};
constexpr int SNRS[] = {10, 30, 100};
constexpr LineProfile PROFILES[] = {LineProfile::Gauss, LineProfile::Lorentz, LineProfile::Voigt};
constexpr int BLEND_SNR = 30;
// The reference fits the true centre +- REFERENCE_REACH lobe widths.
constexpr double REFERENCE_REACH = 8;

struct Case {
    int id = 0;
    bool blend = false;
    LineShape shape;
    int width = 0, snr = 0;
    std::int32_t npts = 0;
    double x0 = 0;
    std::size_t offset = 0; // of the first intensity in lines.i32
    double centre[2] = {};  // in points, 1-based
    int centres = 1;
    LineWidths widths;      // in points
    std::int32_t start = 0; // the cursor's point
    double level = 0;       // of the baseline under the line
    std::int32_t ref_first = 0, ref_last = 0;
};

double frequency(const Case& c, double point) {
    return c.x0 + (point - 1) * STEP;
}

// ---- the lines ------------------------------------------------------------------------

std::vector<Case> make_cases(int lines, std::vector<std::int32_t>& data) {
    std::vector<Case> cases;
    auto add = [&](LineShape shape, int width, int snr, bool blend, std::mt19937_64& random) {
        Case c;
        c.id = int(cases.size());
        c.blend = blend;
        c.shape = shape;
        c.width = width;
        c.snr = snr;
        const int half = std::max(16 * width, 300) + (blend ? width : 0);
        c.npts = 2 * half + 1;
        c.x0 = 200000 + 100.0 * c.id;
        c.offset = data.size();
        std::uniform_real_distribution<double> unit(-0.5, 0.5);
        const double middle = half + 1 + unit(random);
        c.centres = blend ? 2 : 1;
        c.centre[0] = blend ? middle - width / 2.0 : middle;
        c.centre[1] = middle + width / 2.0;
        c.widths = widths_for_lobe(shape, width);
        const double amplitude = HEIGHT / shape_value(shape, 0, c.widths);
        std::normal_distribution<double> noise(0, HEIGHT / snr);
        const double phase = 2 * std::numbers::pi * (unit(random) + 0.5);
        auto baseline = [&](double i) {
            return LEVEL +
                   0.5 * HEIGHT *
                       std::sin(2 * std::numbers::pi * (i - middle) / (400.0 * width) + phase);
        };
        c.level = baseline(middle);
        for (std::int32_t i = 1; i <= c.npts; ++i) {
            double y = baseline(i);
            for (int k = 0; k < c.centres; ++k)
                y += amplitude * shape_value(shape, i - c.centre[k], c.widths);
            data.push_back(std::int32_t(y + noise(random)));
        }
        // The operator puts the cursor on the line, within a quarter of its width.
        c.start = std::int32_t(std::lround(middle + width / 2.0 * unit(random)));
        const double reach = REFERENCE_REACH * width + (blend ? width / 2.0 : 0);
        c.ref_first = std::max<std::int32_t>(1, std::int32_t(std::ceil(middle - reach)));
        c.ref_last = std::min(c.npts, std::int32_t(std::floor(middle + reach)));
        cases.push_back(c);
    };
    int cell = 0;
    for (LineProfile profile : PROFILES)
        for (int width : WIDTHS) {
            for (int snr : SNRS) {
                std::mt19937_64 random(1000 + cell++);
                for (int k = 0; k < lines; ++k)
                    add({profile, 2}, width, snr, false, random);
            }
            std::mt19937_64 random(5000 + cell++);
            for (int k = 0; k < lines; ++k)
                add({profile, 2}, width, BLEND_SNR, true, random);
        }
    return cases;
}

void write_cases(const std::string& dir, const std::vector<Case>& cases,
                 const std::vector<std::int32_t>& data) {
    std::ofstream meta(dir + "/lines.tsv");
    meta << "id\tblend\tprofile\twidth\tsnr\tnpts\tx0\tstep\toffset\tcentre1\tcentre2\tgauss\t"
            "lorentz\tstart\tref_first\tref_last\n";
    meta.precision(17);
    for (const Case& c : cases)
        meta << c.id << '\t' << int(c.blend) << '\t' << shape_name(c.shape) << '\t' << c.width
             << '\t' << c.snr << '\t' << c.npts << '\t' << c.x0 << '\t' << STEP << '\t' << c.offset
             << '\t' << c.centre[0] << '\t' << (c.blend ? c.centre[1] : 0) << '\t' << c.widths.gauss
             << '\t' << c.widths.lorentz << '\t' << c.start << '\t' << c.ref_first << '\t'
             << c.ref_last << '\n';
    std::ofstream raw(dir + "/lines.i32", std::ios::binary);
    raw.write(reinterpret_cast<const char*>(data.data()),
              std::streamsize(data.size() * sizeof(std::int32_t)));
    if (!meta || !raw) {
        std::fprintf(stderr, "cannot write the lines into %s\n", dir.c_str());
        std::exit(1);
    }
}

// ---- the two KORAX measurements -----------------------------------------------------

struct Measured {
    bool ok = false;
    int components = 0;
    double centre[2] = {}, error[2] = {}; // points
    bool o_ok = false;
    double o_centre = 0, o_error = 0; // points
};

void load_into_store(const Case& c, const std::vector<std::int32_t>& data) {
    auto& s = store();
    for (std::int32_t i = 1; i <= c.npts; ++i) {
        s.FREQ[std::size_t(i)] = frequency(c, i);
        s.INTENS[std::size_t(i)] = data[c.offset + std::size_t(i - 1)];
    }
    s.NPTS = c.npts;
    s.FSTART = s.FREQ[1];
    s.FEND = s.FREQ[std::size_t(c.npts)];
    s.FSTEP = STEP;
}

// The O key as the operator uses it on raw points (no zoom): the whole line
// displayed, the cursor on it, NFIT set to the odd number nearest the lobe
// width (at least 5) and the baseline level at the line.
void measure_with_o(const Case& c, Measured& m) {
    auto& s = store();
    ViewerState v;
    v.FLOW = s.FREQ[1];
    v.FHIGH = s.FREQ[std::size_t(c.npts)];
    v.YLOW = LEVEL - HEIGHT;
    v.YHIGH = LEVEL + 2 * HEIGHT;
    v.YREF = v.YLOW;
    full_redraw(v);
    v.ICURS = c.start;
    v.FCURS = s.FREQ[std::size_t(c.start)];
    v.YMEAN = c.level;
    v.NFIT = std::int16_t(std::max(5, c.width % 2 ? c.width : c.width + 1));
    last_measurement().valid = false;
    key_measure(v);
    if (!last_measurement().valid) return;
    m.o_ok = true;
    m.o_centre = (last_measurement().FPEAK - c.x0) / STEP + 1;
    m.o_error = last_measurement().FPERR / STEP;
}

Measured measure(const Case& c, const std::vector<std::int32_t>& data) {
    Measured m;
    auto& s = store();
    load_into_store(c, data);
    ProfileFitSettings settings;
    settings.shape = c.shape;
    const auto fit = fit_profile(s.FREQ, s.INTENS, s.NPTS, s.FREQ[std::size_t(c.start)], settings);
    if (fit) {
        m.ok = true;
        m.components = int(fit->components.size());
        for (int k = 0; k < std::min(2, m.components); ++k) {
            m.centre[k] = (fit->components[std::size_t(k)].centre - c.x0) / STEP + 1;
            m.error[k] = fit->components[std::size_t(k)].centre_error / STEP;
        }
        // One line found as several: the one nearest the truth stands for it.
        if (!c.blend && m.components > 1) {
            std::size_t best = 0;
            for (std::size_t k = 1; k < fit->components.size(); ++k)
                if (std::abs(fit->components[k].centre - frequency(c, c.centre[0])) <
                    std::abs(fit->components[best].centre - frequency(c, c.centre[0])))
                    best = k;
            m.centre[0] = (fit->components[best].centre - c.x0) / STEP + 1;
            m.error[0] = fit->components[best].centre_error / STEP;
        }
    }
    if (!c.blend) measure_with_o(c, m);
    return m;
}

void setup_window() {
    auto& g = store().SCREEN;
    g.MAXX = 799;
    g.MAXY = 539;
    g.NROWS = 30;
    g.NCOLS = 80;
    g.ROWPIX = static_cast<std::int16_t>(std::lround(539.0 / 30) + 1);
    store().FNAME = "bench.001";
}

int run_lines(const std::string& dir, int lines) {
    std::vector<std::int32_t> data;
    const auto cases = make_cases(lines, data);
    write_cases(dir, cases, data);
    setup_window();
    TestWindow window(800, 540, 30);
    std::ofstream out(dir + "/korax.tsv");
    out << "id\tok\tcomponents\tcentre1\terror1\tcentre2\terror2\to_ok\to_centre\to_error\n";
    out.precision(12);
    const double cpu0 = bench::thread_cpu_ms();
    for (const Case& c : cases) {
        const Measured m = measure(c, data);
        out << c.id << '\t' << int(m.ok) << '\t' << m.components << '\t' << m.centre[0] << '\t'
            << m.error[0] << '\t' << m.centre[1] << '\t' << m.error[1] << '\t' << int(m.o_ok)
            << '\t' << m.o_centre << '\t' << m.o_error << '\n';
        if (c.id % 1000 == 999) std::fprintf(stderr, "%d of %zu lines\n", c.id + 1, cases.size());
    }
    std::fprintf(stderr, "%zu lines fitted in %.1f s of processor time\n", cases.size(),
                 (bench::thread_cpu_ms() - cpu0) / 1000);
    return out ? 0 : 1;
}

// ---- the table ----------------------------------------------------------------------

using Row = std::map<std::string, std::string>;

std::vector<Row> read_tsv(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    std::string line;
    std::getline(in, line);
    std::vector<std::string> names;
    std::istringstream head(line);
    for (std::string name; std::getline(head, name, '\t');)
        names.push_back(name);
    std::vector<Row> rows;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Row row;
        std::size_t k = 0;
        for (std::string f; std::getline(fields, f, '\t') && k < names.size(); ++k)
            row[names[k]] = f;
        rows.push_back(std::move(row));
    }
    return rows;
}

double number(const Row& r, const std::string& name) {
    return std::stod(r.at(name));
}

struct Spread {
    int n = 0;
    double sum2 = 0, err2 = 0;
    int inside = 0;
    void add(double deviation, double error) {
        ++n;
        sum2 += deviation * deviation;
        err2 += error * error;
        inside += std::abs(deviation) <= error;
    }
    double rms() const { return n ? std::sqrt(sum2 / n) : NAN; }
    double error_ratio() const { return n ? std::sqrt(err2 / sum2) : NAN; }
    double inside_share() const { return n ? 100.0 * inside / n : NAN; }
};

struct Cell {
    Spread fit, reference, o;
    int lines = 0, refused = 0, split = 0, o_refused = 0, ref_failed = 0;
    int failures = 0; // blends
};

int run_table(const std::string& dir) {
    const auto lines = read_tsv(dir + "/lines.tsv");
    const auto korax = read_tsv(dir + "/korax.tsv");
    const auto reference = read_tsv(dir + "/reference.tsv");
    if (korax.size() != lines.size() || reference.size() != lines.size()) {
        std::fprintf(stderr, "the three files do not hold the same lines\n");
        return 1;
    }
    std::map<std::string, Cell> singles, blends;
    std::vector<std::string> order, blend_order;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Row &l = lines[i], &k = korax[i], &r = reference[i];
        const bool blend = l.at("blend") == "1";
        const std::string key = l.at("profile") + "\t" + l.at("width") + "\t" + l.at("snr");
        auto& cells = blend ? blends : singles;
        if (!cells.count(key)) (blend ? blend_order : order).push_back(key);
        Cell& cell = cells[key];
        ++cell.lines;
        const double width = number(l, "width");
        const double truth[2] = {number(l, "centre1"), number(l, "centre2")};
        const bool ref_ok = r.at("ok") == "1";
        if (!ref_ok) ++cell.ref_failed;
        if (!blend) {
            if (k.at("ok") == "1") {
                cell.fit.add(number(k, "centre1") - truth[0], number(k, "error1"));
                if (number(k, "components") > 1) ++cell.split;
            } else {
                ++cell.refused;
            }
            if (ref_ok) cell.reference.add(number(r, "centre1") - truth[0], number(r, "error1"));
            if (k.at("o_ok") == "1")
                cell.o.add(number(k, "o_centre") - truth[0], number(k, "o_error"));
            else
                ++cell.o_refused;
            continue;
        }
        // Both lines found and fitted: two components, each within half a lobe
        // width of its own line.
        const bool found = k.at("ok") == "1" && number(k, "components") == 2 &&
                           std::abs(number(k, "centre1") - truth[0]) < width / 2 &&
                           std::abs(number(k, "centre2") - truth[1]) < width / 2;
        if (found) {
            for (int j = 0; j < 2; ++j)
                cell.fit.add(number(k, "centre" + std::to_string(j + 1)) - truth[j],
                             number(k, "error" + std::to_string(j + 1)));
        } else {
            ++cell.failures;
        }
        if (ref_ok)
            for (int j = 0; j < 2; ++j)
                cell.reference.add(number(r, "centre" + std::to_string(j + 1)) - truth[j],
                                   number(r, "error" + std::to_string(j + 1)));
    }

    int missed = 0;
    std::printf("Single lines (centre scatter in points; goals: fit/ref <= 1.10, O/fit >= 2, "
                "err/scatter 0.85-1.2, 63-73 %% inside +-1 error)\n\n");
    std::printf(
        "| profile | W | SNR | lines | fit scatter | ref scatter | fit/ref | O scatter | "
        "O/fit | err/scatter | inside +-1 err | ref err/scatter | O err/scatter | refused | "
        "split | O refused | goals |\n");
    std::printf(
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
    for (const auto& key : order) {
        const Cell& c = singles[key];
        std::string profile = key.substr(0, key.find('\t'));
        std::string rest = key.substr(key.find('\t') + 1);
        const std::string w = rest.substr(0, rest.find('\t')),
                          snr = rest.substr(rest.find('\t') + 1);
        const double fit_ref = c.fit.rms() / c.reference.rms();
        const double o_fit = c.o.rms() / c.fit.rms();
        const double ratio = c.fit.error_ratio();
        const double inside = c.fit.inside_share();
        std::string verdict;
        auto goal = [&](bool ok, const char* name) {
            if (!ok) verdict += std::string(verdict.empty() ? "" : ", ") + name;
        };
        goal(fit_ref <= 1.10, "fit/ref");
        goal(o_fit >= 2, "O/fit");
        goal(ratio >= 0.85 && ratio <= 1.2, "err/scatter");
        goal(inside >= 63 && inside <= 73, "inside");
        goal(c.refused == 0, "refused");
        if (!verdict.empty()) ++missed;
        std::printf("| %s | %s | %s | %d | %.4f | %.4f | %.3f | %.4f | %.2f | %.3f | %.1f %% | "
                    "%.3f | %.3f | %d | %d | %d | %s |\n",
                    profile.c_str(), w.c_str(), snr.c_str(), c.lines, c.fit.rms(),
                    c.reference.rms(), fit_ref, c.o.rms(), o_fit, ratio, inside,
                    c.reference.error_ratio(), c.o.error_ratio(), c.refused, c.split, c.o_refused,
                    verdict.empty() ? "met" : ("MISSED " + verdict).c_str());
    }
    std::printf("\nBlends of two equal lines one lobe width apart, SNR %d (goals: fit/ref <= 1.5, "
                "failures < 1 %%)\n\n",
                BLEND_SNR);
    std::printf("| profile | W | blends | fit scatter | ref scatter | fit/ref | err/scatter | "
                "inside +-1 err | failures | goals |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
    for (const auto& key : blend_order) {
        const Cell& c = blends[key];
        std::string profile = key.substr(0, key.find('\t'));
        std::string rest = key.substr(key.find('\t') + 1);
        const std::string w = rest.substr(0, rest.find('\t'));
        const double fit_ref = c.fit.rms() / c.reference.rms();
        const double failures = 100.0 * c.failures / c.lines;
        std::string verdict;
        if (!(fit_ref <= 1.5)) verdict += "fit/ref";
        if (!(failures < 1)) verdict += std::string(verdict.empty() ? "" : ", ") + "failures";
        if (!verdict.empty()) ++missed;
        std::printf("| %s | %s | %d | %.4f | %.4f | %.3f | %.3f | %.1f %% | %.1f %% | %s |\n",
                    profile.c_str(), w.c_str(), c.lines, c.fit.rms(), c.reference.rms(), fit_ref,
                    c.fit.error_ratio(), c.fit.inside_share(), failures,
                    verdict.empty() ? "met" : ("MISSED " + verdict).c_str());
    }
    std::printf("\n%d cells missed a goal\n", missed);
    return 0;
}

// ---- the time of one fit ----------------------------------------------------------

// A single second-derivative Lorentzian of lobe width 12 points on a sloping
// baseline at signal to noise 30, fitted with a linear baseline: centre,
// amplitude, width and two baseline coefficients over the 97 points of +-4
// lobe widths. Each run fits a fresh noise.
int run_time(int fits) {
    const LineShape shape{LineProfile::Lorentz, 2};
    const int width = 12;
    const std::int32_t npts = 3000000;
    auto& s = store();
    const LineWidths w = widths_for_lobe(shape, width * STEP);
    const double amplitude = HEIGHT / shape_value(shape, 0, w);
    std::mt19937_64 random(77);
    std::normal_distribution<double> noise(0, HEIGHT / 30);
    for (std::int32_t i = 1; i <= npts; ++i)
        s.FREQ[std::size_t(i)] = 200000 + (i - 1) * STEP;
    s.NPTS = npts;
    const std::int32_t middle = npts / 2;
    const double centre = s.FREQ[std::size_t(middle)] + 0.3 * STEP;
    auto fresh_line = [&] {
        for (std::int32_t i = middle - 400; i <= middle + 400; ++i)
            s.INTENS[std::size_t(i)] = std::int32_t(
                LEVEL + 0.1 * (i - middle) +
                amplitude * shape_value(shape, s.FREQ[std::size_t(i)] - centre, w) + noise(random));
    };
    for (int components : {1, 0}) {
        ProfileFitSettings settings;
        settings.shape = shape;
        settings.components = components;
        std::vector<double> ms, cpu;
        std::size_t points = 0;
        int iterations = 0;
        for (int k = 0; k < fits; ++k) {
            fresh_line();
            const auto t = bench::time_runs(1, [&] {
                const auto fit = fit_profile(s.FREQ, s.INTENS, npts, centre, settings);
                if (fit) {
                    points = std::size_t(fit->window.count());
                    iterations += fit->iterations;
                }
            });
            ms.push_back(t.median_ms);
            cpu.push_back(t.cpu_ms);
        }
        std::sort(ms.begin(), ms.end());
        std::sort(cpu.begin(), cpu.end());
        std::printf("one fit, %s, %zu points, %s components, in a spectrum of %d points: median "
                    "%.3f ms (processor %.3f ms, 90th percentile %.3f ms), %.1f iterations on "
                    "average over %d fits\n",
                    shape_name(shape).c_str(), points, components ? "1 (5 parameters)" : "auto",
                    npts, ms[ms.size() / 2], cpu[cpu.size() / 2], ms[ms.size() * 9 / 10],
                    double(iterations) / fits, fits);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "lines" && argc >= 3)
        return run_lines(argv[2], argc > 3 ? std::atoi(argv[3]) : 200);
    if (mode == "table" && argc == 3) return run_table(argv[2]);
    if (mode == "time") return run_time(argc > 2 ? std::atoi(argv[2]) : 1000);
    std::fprintf(stderr, "usage: profile_fit_bench lines DIR [LINES] | table DIR | time [FITS]\n");
    return 64;
}

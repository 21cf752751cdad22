// How far the numbers of `korax peaks --profile` can be trusted on spectra
// that are not ideal: synthetic spectra with known centres (wavenumber axes of
// fine steps, clipped peaks, lines not of the fitted shape, blends of unequal
// widths, a few counts, lines at the ends, first derivatives of both phases,
// dips, a curved baseline), each fitted by the real program through its table
// (--tsv), and per case: the lines found, refused and phantom, the reported
// error over the true scatter, the share of true centres inside +-1 error, the
// errors written as zero, and on a wavenumber axis the scatter over that of
// the same points on an MHz axis.
//
//   robustness_bench KORAX DIR [LINES] [CASE...]   the table (LINES a case, 120)
//   robustness_bench check KORAX DIR               the small fixed-seed table,
//                                                  failing when a case loses
//                                                  honesty or finds phantoms
//
// bench/robustness.sh builds and runs the first form; CTest runs the second.
#include "analysis/lineshape.h"
#include "examples/spectrum_maker.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <map>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace korax;

struct Case {
    std::string name = {};
    LineShape data{LineProfile::Lorentz, 2}; // of the lines put in
    double gauss_share = 0.5;                // Voigt: the Gaussian part of the lobe
    std::string fit = "lorentz2";            // --profile
    std::vector<std::string> options = {};   // more options of korax peaks
    double lobe = 10;                        // lobe width, points
    double snr = 100;                        // central lobe over the noise
    double height = 20000;                   // of the central lobe, counts
    double level = 2000;
    double amplitude_low = 0; // > 0: heights uniform in [amplitude_low, height]
    double start = 240000, step = 0.05;
    double clip = 32767;      // the 16-bit limit
    int phase = 1;            // 1f: +1, -1, 0 for either at random
    bool dips = false;        // undifferentiated lines pointing down
    double curve = 0;         // baseline cosine of this many line heights
    double ratio = 0;         // > 0: blends of two lines, widths in this ratio
    double end_distance = -1; // >= 0: one line this many points from an end
    std::string twin = {};    // the MHz case of the same points
};

// The wanted widths in points for a lobe of `lobe` points.
LineWidths widths_of(const Case& c, double lobe) {
    if (c.data.profile != LineProfile::Voigt) return widths_for_lobe(c.data, lobe);
    LineWidths w{c.gauss_share, 1 - c.gauss_share};
    const double scale = lobe / lobe_width(c.data, w);
    return {w.gauss * scale, w.lorentz * scale};
}

// The amplitude that gives the line's largest lobe `height` pointing up (dips:
// down; 1f: the lobe below the centre up for phase +1).
double amplitude_for(const Case& c, const LineWidths& w, double height, int phase) {
    const double at = shape_value(c.data, height_offset(c.data, w), w);
    double biggest = 0;
    for (double u = -3 * lobe_width(c.data, w); u <= 3 * lobe_width(c.data, w); u += 0.01)
        biggest = std::max(biggest, std::abs(shape_value(c.data, u, w)));
    const double sign = c.data.derivative == 1 ? phase : c.dips ? -1 : 1;
    return sign * height / biggest * (at >= 0 ? 1 : -1);
}

struct Truth {
    double point = 0; // 1-based, fractional
    double height = 0;
};

struct Made {
    std::string file;
    double start = 0, step = 0;
    std::vector<Truth> lines;
};

// The spectra of a case: one of all lines, or with lines at the ends one per line.
std::vector<Made> make_case(const Case& c, int lines, const std::string& dir) {
    std::mt19937_64 random(std::hash<std::string>{}(c.twin.empty() ? c.name : c.twin));
    std::uniform_real_distribution<double> uniform(0, 1);
    std::normal_distribution<double> normal(0, 1);
    const double noise = c.height / c.snr;
    const double spacing = (c.ratio > 0 ? 60 : 40) * c.lobe;
    const int files = c.end_distance >= 0 ? lines : 1;
    const int per_file = c.end_distance >= 0 ? 1 : lines;
    std::vector<Made> made;
    for (int f = 0; f < files; ++f) {
        Made m;
        m.start = c.start;
        m.step = c.step;
        const double margin = c.end_distance >= 0 ? 0 : 20 * c.lobe;
        const auto npts = std::int64_t(c.end_distance >= 0 ? std::ceil(30 * c.lobe)
                                                           : 2 * margin + per_file * spacing);
        std::vector<double> y(std::size_t(npts), c.level);
        struct Put {
            double point, amplitude;
            LineWidths widths;
        };
        std::vector<Put> put;
        for (int k = 0; k < per_file; ++k) {
            double point = margin + (k + 0.5) * spacing + (uniform(random) - 0.5) * 4;
            if (c.end_distance >= 0)
                point = f % 2 == 0 ? 1 + c.end_distance + uniform(random) - 0.5
                                   : double(npts) - c.end_distance + uniform(random) - 0.5;
            const double height =
                c.amplitude_low > 0
                    ? c.amplitude_low + (c.height - c.amplitude_low) * uniform(random)
                    : c.height;
            const int phase = c.phase != 0 ? c.phase : (uniform(random) < 0.5 ? 1 : -1);
            const LineWidths w = widths_of(c, c.lobe);
            put.push_back({point, amplitude_for(c, w, height, phase), w});
            m.lines.push_back({point, height});
            if (c.ratio > 0) {
                // A partner a lobe width and a half away, wider by the ratio.
                const LineWidths wide = widths_of(c, c.lobe * c.ratio);
                const double at = point + 1.5 * c.lobe;
                put.push_back({at, amplitude_for(c, wide, height * 0.8, phase), wide});
                m.lines.push_back({at, height * 0.8});
            }
        }
        const double period = 400 * c.lobe;
        for (std::int64_t i = 0; i < npts; ++i) {
            const double x = double(i + 1);
            double v = y[std::size_t(i)] +
                       c.curve * c.height * std::cos(2 * std::numbers::pi * x / period);
            for (const Put& p : put)
                if (std::abs(x - p.point) < 30 * c.lobe)
                    v += p.amplitude * shape_value(c.data, x - p.point, p.widths);
            v += noise * normal(random);
            y[std::size_t(i)] = std::clamp(std::round(v), -32768.0, c.clip);
        }
        SpectrumRecipe recipe;
        recipe.points = npts;
        recipe.start = c.start;
        recipe.step = c.step;
        recipe.comment = "robustness " + c.name;
        SyntheticSpectrum s;
        s.start = c.start;
        s.step = c.step;
        s.end = c.start + double(npts - 1) * c.step;
        for (std::int64_t i = 0; i < npts; ++i) {
            s.freq.push_back(c.start + double(i) * c.step);
            s.intens.push_back(std::int16_t(y[std::size_t(i)]));
        }
        char name[64];
        std::snprintf(name, sizeof name, "%s_%03d.001", c.name.c_str(), f);
        m.file = dir + "/" + name;
        const auto bytes = pelmo_file_bytes(recipe, s);
        std::ofstream(m.file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        std::ofstream truth(m.file + ".truth");
        for (const Truth& t : m.lines)
            truth << std::setprecision(17) << c.start + (t.point - 1) * c.step << "\t" << t.height
                  << "\n";
        made.push_back(std::move(m));
    }
    return made;
}

struct Row {
    std::string file;
    double frequency = 0, error = 0;
    bool refused = false, zero = false;
    bool flagged = false; // a flag set in the flags column
};

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream s(line);
    for (std::string cell; std::getline(s, cell, '\t');)
        cells.push_back(cell);
    if (!line.empty() && line.back() == '\t') cells.emplace_back();
    return cells;
}

// Runs korax peaks over the case's spectra; its table rows.
std::vector<Row> run_korax(const std::string& korax, const Case& c, const std::vector<Made>& made,
                           const std::string& dir, std::string& summary) {
    std::string command = korax + " peaks -j 2 --force --tsv --cutoff-sigma 5 --profile " + c.fit;
    for (const auto& o : c.options)
        command += " " + o;
    command += " -o " + dir;
    const std::string list = dir + "/" + c.name + ".files";
    {
        std::ofstream out(list);
        for (const Made& m : made)
            out << m.file << "\n";
    }
    command += " $(cat " + list + ") 2>" + dir + "/" + c.name + ".err";
    std::vector<Row> rows;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return rows;
    std::string text;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    ::pclose(pipe);
    std::ifstream err(dir + "/" + c.name + ".err");
    std::getline(err, summary);
    std::stringstream lines(text);
    std::string line;
    std::getline(lines, line);
    const auto head = split(line);
    auto column = [&](const char* name) {
        return std::size_t(std::find(head.begin(), head.end(), name) - head.begin());
    };
    const std::size_t fc = column("frequency"), ec = column("error"), gc = column("flags");
    while (std::getline(lines, line)) {
        const auto cells = split(line);
        if (cells.size() <= std::max(fc, ec)) continue;
        Row r;
        r.file = cells[0];
        r.frequency = std::strtod(cells[fc].c_str(), nullptr);
        r.refused = cells[ec].empty();
        r.error = r.refused ? 0 : std::strtod(cells[ec].c_str(), nullptr);
        r.zero = !r.refused && r.error == 0;
        r.flagged = gc < cells.size() && !cells[gc].empty() && cells[gc] != "-";
        rows.push_back(r);
    }
    return rows;
}

// The honesty of a set of lines: their reported errors against their true
// deviations.
struct Honesty {
    int lines = 0, inside = 0;
    double dev2 = 0, err2 = 0; // points squared
    void add(double dev, double err) {
        ++lines;
        dev2 += dev * dev;
        err2 += err * err;
        if (std::abs(dev) <= err) ++inside;
    }
    double scatter() const { return lines > 0 ? std::sqrt(dev2 / lines) : 0; }
    double ratio() const { return dev2 > 0 ? std::sqrt(err2 / dev2) : 0; }
};

struct Score {
    int lines = 0, found = 0, refused = 0, phantom = 0, zero = 0, inside = 0;
    double scatter = 0, error = 0; // rms, points
    Honesty plain, flagged;        // the lines found without a flag and with one
    std::string summary;
    double ratio() const { return scatter > 0 ? error / scatter : 0; }
};

Score score(const Case& c, const std::vector<Made>& made, const std::vector<Row>& rows) {
    Score s;
    std::map<std::string, const Made*> by_file;
    for (const Made& m : made)
        by_file[m.file] = &m;
    std::map<std::string, std::vector<const Row*>> rows_of;
    for (const Row& r : rows)
        rows_of[r.file].push_back(&r);
    double dev2 = 0, err2 = 0;
    for (const Made& m : made) {
        s.lines += int(m.lines.size());
        std::vector<int> taken(m.lines.size(), 0);
        for (const Row* r : rows_of[m.file]) {
            const double point = (r->frequency - m.start) / m.step + 1;
            std::size_t best = 0;
            double distance = 1e300;
            for (std::size_t k = 0; k < m.lines.size(); ++k)
                if (std::abs(point - m.lines[k].point) < distance) {
                    distance = std::abs(point - m.lines[k].point);
                    best = k;
                }
            if (distance > 0.5 * c.lobe || taken[best] != 0) {
                if (!r->refused) ++s.phantom;
                continue;
            }
            if (r->refused) {
                taken[best] = -1;
                ++s.refused;
                continue;
            }
            taken[best] = 1;
            ++s.found;
            if (r->zero) ++s.zero;
            const double dev = point - m.lines[best].point, err = r->error / m.step;
            dev2 += dev * dev;
            err2 += err * err;
            if (std::abs(dev) <= err) ++s.inside;
            (r->flagged ? s.flagged : s.plain).add(dev, err);
        }
    }
    if (s.found > 0) {
        s.scatter = std::sqrt(dev2 / s.found);
        s.error = std::sqrt(err2 / s.found);
    }
    return s;
}

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    auto add = [&](Case c) { cases.push_back(std::move(c)); };
    // The wavenumber axes and the MHz twin of their points.
    add({.name = "mhz", .snr = 100});
    for (const auto& [name, step] : {std::pair{"cm1e-5", 1e-5}, std::pair{"cm1e-6", 1e-6},
                                     std::pair{"cm2e-7", 2e-7}, std::pair{"cm1e-7", 1e-7}})
        add({.name = name, .snr = 100, .start = 2000, .step = step, .twin = "mhz"});
    // Clipped at the 16-bit limit, the level at 0.
    for (double peak : {40000.0, 80000.0, 200000.0})
        add({.name = "clip" + std::to_string(int(peak / 1000)) + "k",
             .snr = 1000,
             .height = peak,
             .level = 0});
    // Lines not of the fitted shape, the components found automatically.
    for (double snr : {30.0, 300.0}) {
        const std::string s = std::to_string(int(snr));
        add({.name = "gauss_as_l2_" + s, .data = {LineProfile::Gauss, 2}, .snr = snr});
        add({.name = "voigt_as_l2_" + s, .data = {LineProfile::Voigt, 2}, .snr = snr});
        add({.name = "lorentz_as_g2_" + s, .fit = "gauss2", .snr = snr});
    }
    add({.name = "blend1.5", .snr = 100, .ratio = 1.5});
    add({.name = "blend1.5free", .options = {"--free-widths"}, .snr = 100, .ratio = 1.5});
    // A few counts: noise 0.5, heights 2 to 20.
    add({.name = "counts2-20", .snr = 40, .height = 20, .level = 100, .amplitude_low = 2});
    add({.name = "counts5-20", .snr = 40, .height = 20, .level = 100, .amplitude_low = 5});
    for (double d : {2.0, 5.0, 10.0})
        add({.name = "end" + std::to_string(int(d)), .snr = 100, .end_distance = d});
    // First derivatives of either phase, and dips.
    for (int phase : {1, -1})
        add({.name = phase > 0 ? "1f+" : "1f-",
             .data = {LineProfile::Lorentz, 1},
             .fit = "lorentz1",
             .snr = 100,
             .phase = phase});
    add({.name = "1fmixed", .data = {LineProfile::Lorentz, 1}, .fit = "lorentz1", .phase = 0});
    add({.name = "dips",
         .data = {LineProfile::Lorentz, 0},
         .fit = "lorentz0",
         .options = {"--dips"},
         .snr = 100,
         .level = 20000,
         .dips = true});
    add({.name = "dips_found",
         .data = {LineProfile::Gauss, 0},
         .fit = "gauss0",
         .snr = 100,
         .level = 20000,
         .dips = true});
    // A slow cosine of twice the line height under the lines.
    // Lines of 8000 on a level of 0, so that the baseline's +-16000 stays in 16 bits.
    add({.name = "curved",
         .options = {"--baseline-degree 2"},
         .snr = 100,
         .height = 8000,
         .level = 0,
         .curve = 2});
    return cases;
}

void print_head() {
    std::printf("%-16s %5s %6s %6s %6s %8s %7s %7s %5s %8s %6s %7s %7s\n", "case", "lines",
                "found%", "refus%", "phan%", "scatter", "err/sc", "inside%", "zero", "cm/MHz",
                "flag%", "plain", "flagged");
}

void print_row(const Case& c, const Score& s, double twin_scatter) {
    const double n = std::max(1, s.lines);
    char twin[16] = "";
    if (twin_scatter > 0) std::snprintf(twin, sizeof twin, "%.3f", s.scatter / twin_scatter);
    // The err/sc of the unflagged and of the flagged lines apart, where
    // there are some.
    char plain[16] = "", flagged[16] = "";
    if (s.plain.lines > 0) std::snprintf(plain, sizeof plain, "%.2f", s.plain.ratio());
    if (s.flagged.lines > 0) std::snprintf(flagged, sizeof flagged, "%.2f", s.flagged.ratio());
    std::printf("%-16s %5d %6.1f %6.1f %6.1f %8.4f %7.2f %7.1f %5d %8s %6.1f %7s %7s\n",
                c.name.c_str(), s.lines, 100 * s.found / n, 100 * s.refused / n,
                100 * s.phantom / n, s.scatter, s.ratio(),
                s.found > 0 ? 100.0 * s.inside / s.found : 0.0, s.zero, twin,
                s.found > 0 ? 100.0 * s.flagged.lines / s.found : 0.0, plain, flagged);
}

int run(const std::string& korax, const std::string& dir, int lines,
        const std::vector<std::string>& only, bool check) {
    std::map<std::string, double> scatters;
    print_head();
    int failures = 0;
    for (const Case& c : all_cases()) {
        const bool wanted =
            only.empty() || std::find(only.begin(), only.end(), c.name) != only.end();
        // A wavenumber case needs its twin's scatter.
        const bool needed = std::any_of(only.begin(), only.end(), [&](const std::string& o) {
            for (const Case& d : all_cases())
                if (d.name == o && d.twin == c.name) return true;
            return false;
        });
        if (!wanted && !needed) continue;
        const auto made = make_case(c, lines, dir);
        std::string summary;
        const auto rows = run_korax(korax, c, made, dir, summary);
        const Score s = score(c, made, rows);
        scatters[c.name] = s.scatter;
        const double twin = c.twin.empty() ? 0 : scatters[c.twin];
        print_row(c, s, twin);
        if (!wanted) continue;
        if (check) {
            std::vector<std::string> why;
            const double n = std::max(1, s.lines);
            if (s.found + s.refused < 0.95 * n &&
                !(c.amplitude_low > 0 && c.amplitude_low < 5 && s.found >= 0.8 * n))
                why.push_back("found");
            if (s.phantom > 0.01 * n) why.push_back("phantoms");
            if (s.zero > 0) why.push_back("zero errors");
            // A flagged line may be more conservative than an unflagged
            // one, never less.
            if (s.plain.lines >= 10 && (s.plain.ratio() < 0.7 || s.plain.ratio() > 1.6))
                why.push_back("err/scatter");
            if (s.flagged.lines >= 10 && s.flagged.ratio() < 0.7)
                why.push_back("err/scatter of the flagged lines");
            if (twin > 0 && std::abs(s.scatter / twin - 1) > 0.1) why.push_back("cm/MHz");
            if (!why.empty()) {
                ++failures;
                std::printf("  FAILED:");
                for (const auto& w : why)
                    std::printf(" %s", w.c_str());
                std::printf("  (%s)\n", summary.c_str());
            }
        }
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool check = !args.empty() && args[0] == "check";
    if (check) args.erase(args.begin());
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: robustness_bench [check] KORAX DIR [LINES] [CASE...]\n");
        return 64;
    }
    int lines = check ? 40 : 120;
    std::size_t next = 2;
    if (!check && args.size() > 2 && std::isdigit(static_cast<unsigned char>(args[2][0]))) {
        lines = std::atoi(args[2].c_str());
        next = 3;
    }
    const std::vector<std::string> only(args.begin() + std::ptrdiff_t(next), args.end());
    return run(args[0], args[1], lines, only, check);
}

// The synthetic spectra of korax-mkspectrum. Random numbers come from
// std::mt19937_64 through hand-written transforms, whose results the standard
// fixes, so that a seed gives the same file with every compiler and library.
#include "examples/spectrum_maker.h"

#include "input/pelmo_format.h"
#include "spectrum/store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>

namespace korax {

namespace {

class Random {
  public:
    explicit Random(std::uint64_t seed) : m_engine(seed) {}
    double uniform() { return static_cast<double>(m_engine() >> 11) * 0x1.0p-53; } // [0, 1)
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int integer(int lo, int hi) { return lo + static_cast<int>(uniform() * (hi - lo + 1)); }
    double normal() {
        // Box-Muller; 1 - u keeps the logarithm away from zero.
        const double u1 = 1.0 - uniform();
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
    }

  private:
    std::mt19937_64 m_engine;
};

struct Line {
    double centre, amplitude, width;
};

std::vector<Line> make_lines(const SpectrumRecipe& r, double first, double last, Random& random) {
    const std::int64_t wanted = r.lines >= 0 ? r.lines : std::max<std::int64_t>(3, r.points / 400);
    std::vector<Line> lines;
    lines.reserve(static_cast<std::size_t>(wanted));
    for (std::int64_t i = 0; i < wanted; ++i) {
        Line line{};
        line.centre = random.uniform(first, last);
        // Strengths spread over two decades, weak lines being the most common.
        line.amplitude = 150.0 * std::pow(10.0, 2.0 * random.uniform() * random.uniform());
        line.width = r.width * random.uniform(0.8, 1.25);
        lines.push_back(line);
    }
    // One strong line a little left of the middle, as in a recording centred
    // near a known transition.
    if (!lines.empty()) {
        lines.front().centre = first + 0.43 * (last - first);
        lines.front().amplitude = 14000.0;
    }
    return lines;
}

// Second-derivative Lorentzians into y, noted in s.lines.
void add_lines(SyntheticSpectrum& s, std::vector<double>& y, const std::vector<Line>& lines) {
    const std::size_t n = s.freq.size();
    for (const Line& line : lines) {
        s.lines.push_back({line.centre, line.amplitude});
        // Beyond 60 half widths a line adds less than a millionth of its height.
        const double reach = 60.0 * line.width;
        const auto from = static_cast<std::size_t>(
            std::lower_bound(s.freq.begin(), s.freq.end(), line.centre - reach) - s.freq.begin());
        for (std::size_t i = from; i < n && s.freq[i] <= line.centre + reach; ++i) {
            const double t = (s.freq[i] - line.centre) / line.width;
            const double u = t * t + 1.0;
            y[i] -= line.amplitude * (3.0 * u - 4.0) / (u * u * u);
        }
    }
}

void finish(SyntheticSpectrum& s, const std::vector<double>& y) {
    for (std::size_t i = 0; i < y.size(); ++i)
        s.intens[i] = static_cast<std::int16_t>(std::trunc(std::clamp(y[i], -32767.0, 32767.0)));
}

// The axis, the drifting baseline and the noise of a recipe, as y.
std::vector<double> baseline_and_noise(const SpectrumRecipe& r, SyntheticSpectrum& s,
                                       Random& random) {
    const auto n = static_cast<std::size_t>(std::max<std::int64_t>(r.points, 0));
    s.start = r.start;
    s.step = r.step;
    s.end = r.start + static_cast<double>(n > 0 ? n - 1 : 0) * r.step;
    s.freq.resize(n);
    s.intens.resize(n);
    double k = 0.0;
    for (std::size_t i = 0; i < n; ++i, k += 1.0)
        s.freq[i] = r.start + k * r.step;
    std::vector<double> y(n, 0.0);
    const double span = std::max(s.end - s.start, r.step);
    const double phase1 = random.uniform(0.0, 6.28), phase2 = random.uniform(0.0, 6.28);
    const double slope = random.uniform(-0.5, 0.5);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = (s.freq[i] - s.start) / span;
        y[i] = r.drift * (0.6 * std::sin(8.2 * x + phase1) + 0.4 * std::sin(23.0 * x + phase2) +
                          slope * x) +
               r.noise * random.normal();
    }
    return y;
}

std::string default_comment(const SpectrumRecipe& r, const SyntheticSpectrum& s) {
    char text[128];
    std::snprintf(text, sizeof text, "%s  %.2f - %.2f  synthetic 2f spectrum, seed %llu",
                  r.sample.c_str(), s.start, s.end, static_cast<unsigned long long>(r.seed));
    return text;
}

} // namespace

SyntheticSpectrum make_spectrum(const SpectrumRecipe& r) {
    SyntheticSpectrum s;
    const auto n = static_cast<std::size_t>(std::max<std::int64_t>(r.points, 0));
    s.start = r.start;
    s.step = r.step;
    s.end = r.start + static_cast<double>(n > 0 ? n - 1 : 0) * r.step;
    s.freq.resize(n);
    s.intens.resize(n);
    if (n == 0) return s;

    Random random(r.seed);
    // Offsets below half a step keep the frequencies increasing.
    const double uneven = std::clamp(r.unevenness, 0.0, 0.45);
    double k = 0.0;
    for (std::size_t i = 0; i < n; ++i, k += 1.0) {
        s.freq[i] = r.start + k * r.step;
        if (uneven > 0.0 && i > 0 && i + 1 < n)
            s.freq[i] += random.uniform(-uneven, uneven) * r.step;
    }

    std::vector<double> y(n, 0.0);
    const double span = std::max(s.end - s.start, r.step);
    const double phase1 = random.uniform(0.0, 6.28), phase2 = random.uniform(0.0, 6.28);
    const double slope = random.uniform(-0.5, 0.5);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = (s.freq[i] - s.start) / span;
        y[i] = r.drift * (0.6 * std::sin(8.2 * x + phase1) + 0.4 * std::sin(23.0 * x + phase2) +
                          slope * x) +
               r.noise * random.normal();
    }

    add_lines(s, y, make_lines(r, s.start, s.end, random));
    finish(s, y);
    return s;
}

std::vector<unsigned char> pelmo_file_bytes(const SpectrumRecipe& r, const SyntheticSpectrum& s) {
    const std::size_t n = s.intens.size();
    std::vector<unsigned char> out(PELMO_HEADER_BYTES + PELMO_COUNT_BYTES + 2 * n +
                                   PELMO_AXIS_BYTES + 2);

    // The recording details come from their own generator, so that they do not
    // change the points of a recipe.
    Random random(r.seed ^ 0x9E3779B97F4A7C15ull);
    SpectrumHeader h;
    h.clear();
    set_field(h.COMENT, r.comment.empty() ? default_comment(r, s) : r.comment);
    h.IDAY = static_cast<std::int16_t>(random.integer(1, 28));
    h.IMONTH = static_cast<std::int16_t>(random.integer(1, 12));
    h.IYEAR = static_cast<std::int16_t>(random.integer(1985, 2045));
    h.IHOUR = static_cast<std::int16_t>(random.integer(8, 21));
    h.IMINUT = static_cast<std::int16_t>(random.integer(0, 59));
    h.ISECND = static_cast<std::int16_t>(random.integer(0, 59));
    set_field(h.LAMP, "OB-24");
    h.VKMLO = 1520.0f; // mV
    h.VKMHI = static_cast<float>(std::round(random.uniform(2100.0, 2600.0)));
    h.GRID = static_cast<float>(std::round(random.uniform(90.0, 160.0) * 10.0) / 10.0);
    set_field(h.SAMPLE, r.sample);
    h.PRESS = static_cast<float>(std::round(random.uniform(5.0, 30.0) * 10.0) / 10.0);
    h.GAIN = 0.05f;   // mV: a sensitive lock-in range
    h.TCONST = 0.01f; // s
    h.PHASE = 42.5f;  // degrees
    set_field(h.NDELAV, "2, 8");
    h.PTSSEC = 25.0f; // points per second
    h.FMOD = 12.5f;   // modulation frequency, kHz
    h.FDEV = 180.0f;  // deviation, kHz

    unsigned char* p = out.data();
    encode_pelmo_header(h, std::span<unsigned char, PELMO_HEADER_BYTES>(p, PELMO_HEADER_BYTES));
    p += PELMO_HEADER_BYTES;
    PelmoCount count;
    if (n > 1 && n <= 32000) {
        const auto [lo, hi] = std::minmax_element(s.intens.begin(), s.intens.end());
        count.word = static_cast<std::int16_t>(n);
        count.lowest = *lo;
        count.highest = *hi;
    } else {
        count.word = -1;
        count.long_count = static_cast<std::int32_t>(n);
    }
    encode_pelmo_count(count, std::span<unsigned char, PELMO_COUNT_BYTES>(p, PELMO_COUNT_BYTES));
    p += PELMO_COUNT_BYTES;
    for (std::int16_t v : s.intens) {
        put_le(p, v);
        p += 2;
    }
    encode_pelmo_axis({s.start, s.end, s.step},
                      std::span<unsigned char, PELMO_AXIS_BYTES>(p, PELMO_AXIS_BYTES));
    // The two trailing bytes stay zero.
    return out;
}

std::string ascii_file_text(const SpectrumRecipe& r, const SyntheticSpectrum& s) {
    std::string text = (r.comment.empty() ? default_comment(r, s) : r.comment) + "\n";
    text.reserve(text.size() + 32 * s.intens.size());
    char line[64];
    // Frequencies to a thousandth of the step or better: 5 decimals for an MHz
    // axis, 10 for wavenumbers in steps of 1e-7.
    const int decimals =
        r.step > 0 ? std::clamp(3 - static_cast<int>(std::floor(std::log10(r.step))), 5, 17) : 5;
    for (std::size_t i = 0; i < s.intens.size(); ++i) {
        // A lock-in output of a few millivolts.
        const int length = std::snprintf(line, sizeof line, "%.*f  %.5E\n", decimals, s.freq[i],
                                         s.intens[i] * 2.5e-7);
        text.append(line, static_cast<std::size_t>(length));
    }
    return text;
}

} // namespace korax

namespace korax {

std::string catalog_file_text(const SyntheticSpectrum& spectrum) {
    std::vector<SyntheticLine> lines = spectrum.lines;
    std::sort(lines.begin(), lines.end(),
              [](const SyntheticLine& a, const SyntheticLine& b) { return a.centre < b.centre; });
    std::string text;
    char record[128];
    for (std::size_t k = 0; k < lines.size(); ++k) {
        // J rises along the band and Ka cycles, as in a crowded asymmetric-rotor band.
        const int j = 19 + static_cast<int>(k / 6), ka = static_cast<int>(k % 6);
        const double lgint = std::log10(lines[k].amplitude) - 7.0;
        const double elower = 0.2028 * j * (j + 1) + 2.7 * ka * ka;
        std::snprintf(record, sizeof record,
                      "%13.4f%8.4f%8.4f%2d%10.4f%3d%7d%4d%2d%2d%2d      %2d%2d%2d      \n",
                      lines[k].centre, 0.0050 + 0.0001 * static_cast<double>(k % 7), lgint, 3,
                      elower, 2 * j + 3, 99001, 303, j + 1, ka, j + 1 - ka, j, ka, j - ka);
        text += record;
    }
    return text;
}

} // namespace korax

namespace korax {

namespace {

// The half-height width of the central lobe of a second-derivative Lorentzian
// of half width 1: where (4 - 3u) / u^3 = 1/2 with u = 1 + t^2.
double unit_lobe_width() {
    double u = 1.1;
    for (int i = 0; i < 50; ++i) // Newton on u^3 + 6u - 8 = 0
        u -= (u * u * u + 6 * u - 8) / (3 * u * u + 6);
    return 2 * std::sqrt(u - 1);
}

constexpr double KT_MHZ = 6.2510e6; // k * 300 K in MHz

} // namespace

TopSpectrum make_top_spectrum(const TopRecipe& t, const SpectrumRecipe& base) {
    TopSpectrum top;
    top.lobe_width = unit_lobe_width() * base.width;
    const double lobe = top.lobe_width;
    // o-c = a u + b u^3 + c u K^2 with u = J + 1, from its three given values.
    const double u1 = t.j_low + 1.0, u2 = t.j_high + 1.0;
    const double y1 = t.oc_low * lobe, y2 = t.oc_high * lobe;
    const double b = (y2 / u2 - y1 / u1) / (u2 * u2 - u1 * u1);
    const double a = y1 / u1 - b * u1 * u1;
    const double c =
        t.k_max > 0 ? (t.oc_high_kmax - t.oc_high) * lobe / (u2 * t.k_max * t.k_max) : 0;
    double largest = 0;
    for (int k = 0; k <= t.k_max; ++k)
        for (int j = std::max(t.j_low, k); j <= t.j_high; ++j) {
            TopLine m;
            m.j = j;
            m.k = k;
            const double u = j + 1.0, k2 = double(k) * k;
            m.freq = 2 * u * (t.b - t.djk * k2) - 4 * t.dj * u * u * u;
            m.predicted = m.freq - (a * u + b * u * u * u + c * u * k2);
            const double e = t.b * j * (j + 1.0) + t.a_minus_b * k2; // MHz
            m.elower = e / 29979.2458;
            // The line strength of a parallel band times the spin weight (K = 3n
            // doubled) and the degeneracy of K, the Boltzmann factor and nu.
            const double weight = (k == 0 ? 1.0 : 2.0) * (k % 3 == 0 ? 2.0 : 1.0);
            m.amplitude = m.freq * (u * u - k2) / u * weight * std::exp(-e / KT_MHZ);
            largest = std::max(largest, m.amplitude);
            top.members.push_back(m);
        }
    double low = 1e300, high = -1e300;
    for (TopLine& m : top.members) {
        m.amplitude *= t.strongest / largest;
        m.lgint = std::log10(m.amplitude) - 7.0;
        low = std::min({low, m.freq, m.predicted});
        high = std::max({high, m.freq, m.predicted});
    }
    SpectrumRecipe r = base;
    r.start = std::floor((low - t.margin) / r.step) * r.step;
    r.points = static_cast<std::int64_t>(std::ceil((high + t.margin - r.start) / r.step)) + 1;
    r.lines = 0;
    r.unevenness = 0;
    top.recipe = r;
    Random random(r.seed);
    SyntheticSpectrum& s = top.spectrum;
    std::vector<double> y = baseline_and_noise(r, s, random);
    std::vector<Line> lines;
    for (TopLine& m : top.members) {
        const bool left_out = std::find(t.missing.begin(), t.missing.end(),
                                        std::array<int, 2>{m.j, m.k}) != t.missing.end();
        if (left_out) {
            m.amplitude = 0;
            continue;
        }
        lines.push_back({m.freq, m.amplitude, base.width});
        for (const TopRecipe::Stray& st : t.strays)
            if (st.j == m.j && st.k == m.k)
                lines.push_back({m.freq + st.offset * lobe, st.fraction * m.amplitude, base.width});
    }
    // The other species: weak lines mostly, anywhere, of similar widths.
    for (int i = 0; i < t.other_lines; ++i) {
        const double centre = random.uniform(s.start, s.end);
        const double height = 0.5 * t.strongest * std::pow(10.0, -2.5 * random.uniform());
        lines.push_back({centre, height, base.width * random.uniform(0.8, 1.25)});
    }
    add_lines(s, y, lines);
    finish(s, y);
    return top;
}

std::string top_catalog_text(const TopSpectrum& top) {
    std::vector<const TopLine*> order;
    for (const TopLine& m : top.members)
        order.push_back(&m);
    std::sort(order.begin(), order.end(),
              [](const TopLine* a, const TopLine* b) { return a->predicted < b->predicted; });
    std::string text;
    char record[160];
    for (const TopLine* m : order) {
        const int gup = (2 * (m->j + 1) + 1) * (m->k == 0 ? 1 : 2);
        std::snprintf(record, sizeof record,
                      "%13.4f%8.4f%8.4f%2d%10.4f%3d%7d%4d%2d%2d        %2d%2d        \n",
                      m->predicted, 0.0500, m->lgint, 3, m->elower, gup, 41001, 1302, m->j + 1,
                      m->k, m->j, m->k);
        text += record;
    }
    return text;
}

std::string top_truth_text(const TopSpectrum& top) {
    std::string text = "J\tK\tfrequency\tprediction\theight\n";
    char row[160];
    for (const TopLine& m : top.members) {
        std::snprintf(row, sizeof row, "%d\t%d\t%.6f\t%.4f\t%.1f\n", m.j, m.k, m.freq, m.predicted,
                      m.amplitude);
        text += row;
    }
    return text;
}

} // namespace korax

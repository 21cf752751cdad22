// Synthetic laboratory spectra for demonstrations, tests and benchmarks: lines of
// second-derivative shape (as a frequency-modulated spectrometer records them)
// at random frequencies and strengths, on a drifting baseline with noise, written
// as PELMO binary files or as two-column text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korax {

struct SpectrumRecipe {
    std::int64_t points = 20000;
    double start = 240000.0; // frequency of the first point
    double step = 0.05;
    std::uint64_t seed = 1;
    int lines = -1;       // number of lines; -1: one per 400 points or so
    double width = 0.4;   // half width of a line at half height, in frequency units
    double noise = 12.0;  // standard deviation of the noise, in file units
    double drift = 400.0; // size of the baseline's wander, in file units
    // Largest random offset of a text file's frequencies, as a fraction of the
    // step; 0 gives an exactly linear axis.
    double unevenness = 0.0;
    std::string comment; // empty: a comment describing the spectrum
    std::string sample = "OCS";
};

struct SyntheticLine {
    double centre = 0, amplitude = 0; // frequency and peak height in file units
};

struct SyntheticSpectrum {
    std::vector<double> freq;         // per point, increasing
    std::vector<std::int16_t> intens; // per point
    double start = 0, end = 0, step = 0;
    std::vector<SyntheticLine> lines; // the lines put into the points
};

// The points of a spectrum; the same recipe always gives the same points.
SyntheticSpectrum make_spectrum(const SpectrumRecipe& recipe);

// The complete bytes of a PELMO binary file: 156-byte header, the short point
// count (count, minimum, maximum) up to 32000 points and the long form (-1,
// 32-bit count) above, the intensities, FSTART, FEND, FSTEP and a closing zero.
std::vector<unsigned char> pelmo_file_bytes(const SpectrumRecipe& recipe,
                                            const SyntheticSpectrum& spectrum);

// A two-column text file: one comment line, then "frequency intensity" lines
// with the intensity in volts.
std::string ascii_file_text(const SpectrumRecipe& recipe, const SyntheticSpectrum& spectrum);

// A line catalogue of the spectrum's lines, in frequency order, as a model of
// the molecule would predict them: 80-column lines with made-up quantum numbers
// of an asymmetric rotor and log10 intensities following the line heights.
std::string catalog_file_text(const SyntheticSpectrum& spectrum);

// The R branch J+1 <- J of a prolate symmetric top, K = 0 .. k_max (K <= J),
// nu = 2(J+1)(B - D_JK K^2) - 4 D_J (J+1)^3, among lines of other species, as
// a Loomis-Wood series test: its catalogue is predicted from preliminary
// constants, so that observed minus calculated is a smooth function of J,
// given in lobe widths of the lines (the half-height width of the central
// lobe of the second-derivative line, 0.654 times the half width) at three
// places: K = 0 at the lowest and the highest J, and K = k_max at the highest J.
struct TopRecipe {
    int j_low = 10, j_high = 60; // lower-state J of the members
    int k_max = 20;
    double b = 1250.0, dj = 2e-4, djk = 0.5;                  // true constants, MHz
    double a_minus_b = 3750.0;                                // for the lower-state energies, MHz
    double oc_low = -0.5, oc_high = 5.0, oc_high_kmax = -5.0; // o-c in lobe widths
    double strongest = 12000.0; // height of the strongest member, in file units
    int other_lines = 2000;     // lines of other species, not in the catalogue
    double margin = 20.0;       // spectrum beyond the outermost members
    // Members left out of the spectrum (J, K), and lines put beside members:
    // J, K, offset from the member in its lobe widths, height as a fraction
    // of the member's.
    std::vector<std::array<int, 2>> missing;
    struct Stray {
        int j = 0, k = 0;
        double offset = 0, fraction = 1;
    };
    std::vector<Stray> strays;
};

struct TopLine {
    int j = 0, k = 0;                // lower-state J and K
    double freq = 0, predicted = 0;  // true and predicted frequency
    double amplitude = 0, lgint = 0; // height in file units (0: left out), catalogue log10
    double elower = 0;               // cm-1
};

struct TopSpectrum {
    SpectrumRecipe recipe; // start and points set from the lines
    SyntheticSpectrum spectrum;
    std::vector<TopLine> members; // by K, then J
    double lobe_width = 0;
};

// `base` gives the step, width (half width at half height), noise, drift and
// seed; its start and points are set from the members' frequencies.
TopSpectrum make_top_spectrum(const TopRecipe& recipe, const SpectrumRecipe& base);
// The catalogue of the members' predictions (format 1302: J and K per state).
std::string top_catalog_text(const TopSpectrum& top);
// The members as they are, tab-separated: J, K, frequency, prediction,
// height (0 for one left out), one header line.
std::string top_truth_text(const TopSpectrum& top);

} // namespace korax

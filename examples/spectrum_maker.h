// Synthetic laboratory spectra for demonstrations, tests and benchmarks: lines of
// second-derivative shape (as a frequency-modulated spectrometer records them)
// at random frequencies and strengths, on a drifting baseline with noise, written
// as PELMO binary files or as two-column text.
#pragma once

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

} // namespace korax

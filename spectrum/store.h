// The spectrum store: the one record that holds the spectrum in work for the whole
// run. Readers (input/) fill it, the linearisation rewrites its axis, the viewer and
// the analysis change it in place, the writers (output/) read it. Arrays are sized
// once at start-up and indexed from 1: s.FREQ[i] is point i.
#pragma once

#include "spectrum/screen.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korax {

inline constexpr std::int32_t MAXPTS = 3000000;
// One spare element for 1-based indexing and one past the end, so that loops
// that read point i + 1 of the last point stay inside the arrays.
inline constexpr std::size_t STORE_CAPACITY = std::size_t(MAXPTS) + 2;

// The recording header of a PELMO file, in file order. Character fields are
// blank-padded, not terminated.
struct SpectrumHeader {
    std::array<char, 72> COMENT{};
    std::int16_t IDAY = 0, IMONTH = 0, IYEAR = 0, IHOUR = 0, IMINUT = 0, ISECND = 0;
    std::array<char, 6> LAMP{};
    float VKMLO = 0, VKMHI = 0, GRID = 0;
    std::array<char, 20> SAMPLE{};
    float PRESS = 0, GAIN = 0, TCONST = 0, PHASE = 0;
    std::array<char, 6> NDELAV{};
    float PTSSEC = 0, FMOD = 0, FDEV = 0;

    void clear(); // numbers zero, texts blank
};

struct SpectrumStore {
    SpectrumStore();

    std::vector<double> FREQ;         // frequency of point i
    std::vector<std::int32_t> INTENS; // working intensities
    std::vector<std::int32_t> ORIGNL; // copy taken at viewer entry (and after an append)
    std::vector<std::int32_t> WORK;   // smoothing work array; the baseline after a subtraction
    std::vector<std::int32_t> BASLIN; // preliminary baseline of fine-control subtraction

    std::int32_t NPTS = 0;
    double FSTART = 0, FEND = 0, FSTEP = 0;
    std::int32_t IYMIN = 0, IYMAX = 0;
    std::string FNAME; // as typed or chosen, kept whole; blank when none
    SpectrumHeader SPHEAD;
    ScreenGeometry SCREEN; // set by STARTG and NARGR

    // Empties the record as at program start (the arrays keep their size).
    void reset();
};

// The store of this run. Created and touched on first use, so call it once at
// start-up to pay for the 72 MB there rather than at the first load.
SpectrumStore& store();

// The copy of a character field as a string of its full width.
template <std::size_t N> std::string field_text(const std::array<char, N>& f) {
    return std::string(f.data(), N);
}
template <std::size_t N> void set_field(std::array<char, N>& f, std::string_view text) {
    for (std::size_t i = 0; i < N; ++i)
        f[i] = i < text.size() ? text[i] : ' ';
}

} // namespace korax

// Two-column ASCII spectra: the decoder, which reads a text into arrays of the
// caller's and draws nothing (ascii.cpp, also used by the batch commands), and
// the load into the store with its reports (ascii_screens.cpp) and the axis
// check after it (linearise_screen.cpp).
#pragma once

#include "spectrum/store.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace korax {

// What the reader made of a text: on success `failure` is empty and
// freq/intens hold npts points scaled to -10000..10000 (see rescaled) on the axis as read
// (not yet linearised). On failure `failure` is the reader's message and
// `counter` the pair counter its report shows (0: none).
struct AsciiSpectrum {
    std::string_view failure;
    std::int32_t counter = 0;
    std::int32_t npts = 0;
    float ymin = 0, ymax = 0; // the intensities as read
    double fstart = 0, fend = 0, fstep = 0;
    bool axis_known = false; // fstart, fend and fstep were set (success or zero range)
    // A comment line written by `korax convert` carries the PELMO header: the
    // recording parameters are then the file's own, not made up; when the text
    // also holds only whole 16-bit intensities they are kept as they are
    // (iymin, iymax their extremes), and when its points lie on the carried
    // axis, fend and fstep are the carried ones.
    bool header_carried = false;
    bool rescaled = true;
    bool axis_carried = false;
    std::int32_t iymin = -10000, iymax = 10000; // the intensities' limits as loaded
};

// Reads a two-column text (comment line first) from the open file `fd`, which
// it takes over and closes, into 1-based freq/intens of equal size, taking at
// most min(size - 1, MAXPTS) pairs, and fills the header as the reader does.
// The file is read in blocks only as far as needed; one that shrinks meanwhile
// merely ends early. A text of L bytes holds at most (L + 1) / 4 pairs.
AsciiSpectrum decode_ascii_spectrum(int fd, std::span<double> freq, std::span<std::int32_t> intens,
                                    SpectrumHeader& header);

// Reads store().FNAME as text into the store and reports on the screen.
// false: the failure report and the banner have been drawn.
[[nodiscard]] bool read_ascii_spectrum();
// Checks the axis of a freshly read ASCII spectrum and resamples it onto the
// linear axis when it strays by more than a tenth of a step.
void linearise_axis();

} // namespace korax

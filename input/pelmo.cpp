// The PELMO binary load into the store with its four outcomes and the screens
// it draws on the way; the byte layout is pelmo_format.cpp's. The driver owns
// the FILE* and closes it; this reader only reads from it.
#include "input/pelmo.h"

#include "base/format.h"
#include "input/pelmo_format.h"
#include "input/speinf_screen.h"
#include "spectrum/store.h"
#include "window/sgame.h"
#include "window/window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace korax {

namespace {

void write_not_pelmo() {
    Window& w = window();
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.write_line("");
    w.write_line("---- This is not a file in the PELMO binary format: will now try reading it");
    w.write_line("     as two column ASCII, assuming that first line contains");
    w.write_line("     a descriptive comment");
    w.write_line("");
    w.write_line("");
}

[[noreturn]] void fail_intensities(std::int64_t point) {
    Window& w = window();
    w.write_line("");
    w.write_line("");
    w.write_line("  PROBLEMS WITH INPUT OF INTENSITIES at pt. " + fmt_int(point, 8));
    w.write_line("");
    w.write_line("");
    w.fatal_end();
}

// Both refusals that send the operator back to the file choice share this
// screen: cleared, banner, the reason in light red.
void write_refusal(const std::vector<std::string>& lines) {
    Window& w = window();
    w.clear_window();
    SGAME();
    w.set_text_position(1, 1);
    w.set_text_color(12);
    w.write_line("");
    for (const auto& l : lines)
        w.write_line(l);
    w.write_line("");
    w.write_line("");
    w.set_text_color(0);
}

void write_rejected_axis() {
    write_refusal({blanks(10) + "PROBLEMS WITH FREQUENCY LIMITS:", "",
                   blanks(14) + "This may be a file in one of the old data standards,",
                   blanks(14) + "in which case try using DRUMEL"});
}

} // namespace

PelmoOutcome read_pelmo(std::FILE* file) {
    SpectrumStore& s = store();
    Window& w = window();

    std::array<unsigned char, PELMO_HEADER_BYTES> header{};
    if (std::fread(header.data(), 1, header.size(), file) != header.size() ||
        !decode_pelmo_header(header, s.SPHEAD)) {
        write_not_pelmo();
        return PelmoOutcome::NotPelmo;
    }

    w.set_text_color(0);
    w.set_text_background(7);
    std::array<unsigned char, PELMO_COUNT_BYTES> count{};
    if (std::fread(count.data(), 1, count.size(), file) != count.size()) {
        // No count to show on the information screen: report at once, naming
        // the first point, since not even it could be read.
        w.clear_window();
        fail_intensities(1);
    }
    const PelmoCount counted = decode_pelmo_count(count);
    RangeLine range = RangeLine::Unknown;
    s.NPTS = counted.points();
    if (counted.short_form()) {
        s.IYMIN = counted.lowest;
        s.IYMAX = counted.highest;
        range = RangeLine::Known;
    }

    w.clear_window();
    s.FSTART = 0.0;
    s.FEND = 0.0;
    show_spectral_information(s.SCREEN.NROWS, range);

    if (s.NPTS > MAXPTS) {
        w.write_line("");
        w.write_line("");
        w.write_line(std::string(" ") + fmt_int(s.NPTS, 10) + " points in spectrum which exceeds" +
                     " present maximum of " + fmt_int(MAXPTS, 8));
        w.write_line("");
        w.write_line("");
        w.fatal_end();
    }
    // The viewer needs at least 4 points to show a spectrum, and a count of
    // zero or less would hand it none at all. The refusal takes the outcome of
    // a rejected axis: back to the file choice, with this message instead.
    if (s.NPTS < 4) {
        write_refusal({" This file holds too few points (" + std::to_string(s.NPTS) +
                       ") to be shown: at least 4 are needed"});
        return PelmoOutcome::RejectedAxis;
    }

    const auto n = static_cast<std::size_t>(s.NPTS);
    const IntensityBlock block = read_intensity_block(file, &s.INTENS[1], n);
    s.IYMIN = block.lowest;
    s.IYMAX = block.highest;
    if (block.points_read < n) fail_intensities(static_cast<std::int64_t>(block.points_read) + 1);

    std::array<unsigned char, PELMO_AXIS_BYTES> axis{};
    if (std::fread(axis.data(), 1, axis.size(), file) != axis.size()) {
        write_rejected_axis();
        return PelmoOutcome::RejectedAxis;
    }
    const PelmoAxis limits = decode_pelmo_axis(axis);
    s.FSTART = limits.fstart;
    s.FEND = limits.fend;
    s.FSTEP = limits.fstep;
    w.write_line(blanks(15) + "frequency from" + fmt_fixed(s.FSTART, 11, 2) + "  to" +
                 fmt_fixed(s.FEND, 10, 2) + ", step size" + fmt_fixed(s.FSTEP, 8, 5));
    if (!pelmo_axis_usable(limits) || !fill_linear_axis(s.FREQ, s.NPTS, s.FSTART, s.FSTEP)) {
        write_rejected_axis();
        return PelmoOutcome::RejectedAxis;
    }
    return PelmoOutcome::Loaded;
}

} // namespace korax

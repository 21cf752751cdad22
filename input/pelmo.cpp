// The PELMO binary reader: header decoding and encoding, and the load into the
// store with its four outcomes. The driver owns the FILE* and closes it; this
// reader only reads from it.
#include "input/pelmo.h"

#include "base/format.h"
#include "driver/sgame.h"
#include "driver/store.h"
#include "input/pelmo_io.h"
#include "input/speinf_screen.h"
#include "window/window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace korax {

namespace {

// Byte offsets of the header fields.
constexpr int OFF_IDAY = 72, OFF_LAMP = 84, OFF_VKMLO = 90, OFF_SAMPLE = 102, OFF_PRESS = 122,
              OFF_NDELAV = 138, OFF_PTSSEC = 144;

template <std::size_t N> void get_text(std::array<char, N>& field, const unsigned char* p) {
    // Bytes that no screen or file can show become "#", so they never reach
    // the window or a file written later.
    for (std::size_t i = 0; i < N; ++i) {
        unsigned char c = p[i];
        field[i] = (c < 32 || c > 127) ? '#' : static_cast<char>(c);
    }
}

template <std::size_t N> void put_text(unsigned char* p, const std::array<char, N>& field) {
    std::memcpy(p, field.data(), N);
}

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

// One per thread: the batch commands read several spectra at once.
std::vector<unsigned char>& block_buffer() {
    thread_local std::vector<unsigned char> buffer;
    return buffer;
}

} // namespace

bool decode_pelmo_header(std::span<const unsigned char, PELMO_HEADER_BYTES> bytes,
                         SpectrumHeader& h) {
    const unsigned char* p = bytes.data();
    get_text(h.COMENT, p);
    h.IDAY = get_le<std::int16_t>(p + OFF_IDAY);
    h.IMONTH = get_le<std::int16_t>(p + OFF_IDAY + 2);
    h.IYEAR = get_le<std::int16_t>(p + OFF_IDAY + 4);
    h.IHOUR = get_le<std::int16_t>(p + OFF_IDAY + 6);
    h.IMINUT = get_le<std::int16_t>(p + OFF_IDAY + 8);
    h.ISECND = get_le<std::int16_t>(p + OFF_IDAY + 10);
    get_text(h.LAMP, p + OFF_LAMP);
    h.VKMLO = get_le<float>(p + OFF_VKMLO);
    h.VKMHI = get_le<float>(p + OFF_VKMLO + 4);
    h.GRID = get_le<float>(p + OFF_VKMLO + 8);
    get_text(h.SAMPLE, p + OFF_SAMPLE);
    h.PRESS = get_le<float>(p + OFF_PRESS);
    h.GAIN = get_le<float>(p + OFF_PRESS + 4);
    h.TCONST = get_le<float>(p + OFF_PRESS + 8);
    h.PHASE = get_le<float>(p + OFF_PRESS + 12);
    get_text(h.NDELAV, p + OFF_NDELAV);
    h.PTSSEC = get_le<float>(p + OFF_PTSSEC);
    h.FMOD = get_le<float>(p + OFF_PTSSEC + 4);
    h.FDEV = get_le<float>(p + OFF_PTSSEC + 8);
    // The date is the only plausibility test a text file has to fail.
    return h.IDAY >= 1 && h.IDAY <= 31 && h.IMONTH >= 1 && h.IMONTH <= 12 && h.IYEAR >= 1980 &&
           h.IYEAR <= 2050;
}

void encode_pelmo_header(const SpectrumHeader& h,
                         std::span<unsigned char, PELMO_HEADER_BYTES> bytes) {
    unsigned char* p = bytes.data();
    put_text(p, h.COMENT);
    const std::int16_t date[6] = {h.IDAY, h.IMONTH, h.IYEAR, h.IHOUR, h.IMINUT, h.ISECND};
    for (int i = 0; i < 6; ++i)
        put_le(p + OFF_IDAY + 2 * i, date[i]);
    put_text(p + OFF_LAMP, h.LAMP);
    put_le(p + OFF_VKMLO, h.VKMLO);
    put_le(p + OFF_VKMLO + 4, h.VKMHI);
    put_le(p + OFF_VKMLO + 8, h.GRID);
    put_text(p + OFF_SAMPLE, h.SAMPLE);
    put_le(p + OFF_PRESS, h.PRESS);
    put_le(p + OFF_PRESS + 4, h.GAIN);
    put_le(p + OFF_PRESS + 8, h.TCONST);
    put_le(p + OFF_PRESS + 12, h.PHASE);
    put_text(p + OFF_NDELAV, h.NDELAV);
    put_le(p + OFF_PTSSEC, h.PTSSEC);
    put_le(p + OFF_PTSSEC + 4, h.FMOD);
    put_le(p + OFF_PTSSEC + 8, h.FDEV);
}

IntensityBlock read_intensity_block(std::FILE* file, std::int32_t* out, std::size_t count) {
    auto& buffer = block_buffer();
    if (buffer.size() < 2 * count) buffer.resize(2 * count);
    IntensityBlock block;
    block.points_read = std::fread(buffer.data(), 1, 2 * count, file) / 2;
    const unsigned char* p = buffer.data();
    std::int32_t lowest = block.lowest, highest = block.highest;
    for (std::size_t i = 0; i < block.points_read; ++i) {
        const std::int32_t y = get_le<std::int16_t>(p + 2 * i);
        out[i] = y;
        lowest = std::min(lowest, y);
        highest = std::max(highest, y);
    }
    block.lowest = lowest;
    block.highest = highest;
    return block;
}

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
    const std::int16_t count_word = get_le<std::int16_t>(count.data());
    RangeLine range = RangeLine::Unknown;
    if (count_word > 1) {
        s.NPTS = count_word;
        s.IYMIN = get_le<std::int16_t>(count.data() + 2);
        s.IYMAX = get_le<std::int16_t>(count.data() + 4);
        range = RangeLine::Known;
    } else {
        s.NPTS = get_le<std::int32_t>(count.data() + 2);
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
    s.FSTART = get_le<double>(axis.data());
    s.FEND = get_le<double>(axis.data() + 8);
    s.FSTEP = get_le<double>(axis.data() + 16);
    w.write_line(blanks(15) + "frequency from" + fmt_fixed(s.FSTART, 11, 2) + "  to" +
                 fmt_fixed(s.FEND, 10, 2) + ", step size" + fmt_fixed(s.FSTEP, 8, 5));

    // A step of zero (or one too small to move a frequency this large) gives
    // an axis of equal frequencies, over which the viewer divides; non-finite
    // limits give no axis at all.
    const bool finite = std::isfinite(s.FSTART) && std::isfinite(s.FEND) && std::isfinite(s.FSTEP);
    if (!finite || !(s.FSTEP > 0.0) || !(s.FEND > s.FSTART)) {
        write_rejected_axis();
        return PelmoOutcome::RejectedAxis;
    }
    // The factor k of FSTART + k * FSTEP is a whole number below 2^53, so
    // converting the index gives exactly the value of a counter grown by 1.0
    // per point, without the chain of additions that keeps the loop serial.
    double* freq = s.FREQ.data();
    const double fstart = s.FSTART, fstep = s.FSTEP;
    for (std::int32_t k = 0; k < s.NPTS; ++k)
        freq[k + 1] = fstart + static_cast<double>(k) * fstep;
    const double last = s.FREQ[n];
    if (!std::isfinite(last) || !(last > s.FREQ[1])) {
        write_rejected_axis();
        return PelmoOutcome::RejectedAxis;
    }
    return PelmoOutcome::Loaded;
}

} // namespace korax

// The PELMO layout in bytes: header fields at fixed offsets, the two forms of
// the count block, the frequency block and the one-read intensity block.
#include "input/pelmo_format.h"

#include "spectrum/store.h"

#include <algorithm>
#include <array>
#include <cmath>
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

PelmoCount decode_pelmo_count(std::span<const unsigned char, PELMO_COUNT_BYTES> bytes) {
    const unsigned char* p = bytes.data();
    PelmoCount c;
    c.word = get_le<std::int16_t>(p);
    c.long_count = get_le<std::int32_t>(p + 2);
    c.lowest = get_le<std::int16_t>(p + 2);
    c.highest = get_le<std::int16_t>(p + 4);
    return c;
}

void encode_pelmo_count(const PelmoCount& c, std::span<unsigned char, PELMO_COUNT_BYTES> bytes) {
    unsigned char* p = bytes.data();
    put_le(p, c.word);
    if (c.short_form()) {
        put_le(p + 2, c.lowest);
        put_le(p + 4, c.highest);
    } else {
        put_le(p + 2, c.long_count);
    }
}

PelmoAxis decode_pelmo_axis(std::span<const unsigned char, PELMO_AXIS_BYTES> bytes) {
    const unsigned char* p = bytes.data();
    return {get_le<double>(p), get_le<double>(p + 8), get_le<double>(p + 16)};
}

void encode_pelmo_axis(const PelmoAxis& a, std::span<unsigned char, PELMO_AXIS_BYTES> bytes) {
    unsigned char* p = bytes.data();
    put_le(p, a.fstart);
    put_le(p + 8, a.fend);
    put_le(p + 16, a.fstep);
}

bool pelmo_axis_usable(const PelmoAxis& a) {
    const bool finite = std::isfinite(a.fstart) && std::isfinite(a.fend) && std::isfinite(a.fstep);
    return finite && a.fstep > 0.0 && a.fend > a.fstart;
}

bool fill_linear_axis(std::span<double> freq, std::int32_t n, double fstart, double fstep) {
    // The factor k of FSTART + k * FSTEP is a whole number below 2^53, so
    // converting the index gives exactly the value of a counter grown by 1.0
    // per point, without the chain of additions that keeps the loop serial.
    double* f = freq.data();
    for (std::int32_t k = 0; k < n; ++k)
        f[k + 1] = fstart + static_cast<double>(k) * fstep;
    const double last = f[n];
    return std::isfinite(last) && last > f[1];
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

} // namespace korax

// The PELMO binary layout, both ways: the header, the count block, the 16-bit
// intensities and the frequency block, little-endian whatever the machine.
// Every reader and writer of the format (the load, the & key, the save, the
// batch commands, the tests) goes through these; none draws anything.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <utility>

namespace korax {

struct SpectrumHeader;

inline constexpr int PELMO_HEADER_BYTES = 156;
inline constexpr int PELMO_COUNT_BYTES = 6;
inline constexpr int PELMO_AXIS_BYTES = 24;

template <class T> T get_le(const unsigned char* p) {
    static_assert(std::endian::native == std::endian::little ||
                  std::endian::native == std::endian::big);
    unsigned char b[sizeof(T)];
    std::memcpy(b, p, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i)
            std::swap(b[i], b[sizeof(T) - 1 - i]);
    }
    T v;
    std::memcpy(&v, b, sizeof(T));
    return v;
}

template <class T> void put_le(unsigned char* p, T v) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i)
            std::swap(b[i], b[sizeof(T) - 1 - i]);
    }
    std::memcpy(p, b, sizeof(T));
}

// Decodes the 156 header bytes into a header; false when the date is not
// plausible (not a PELMO file). Text bytes no screen can show become "#".
bool decode_pelmo_header(std::span<const unsigned char, PELMO_HEADER_BYTES> bytes,
                         SpectrumHeader& header);
void encode_pelmo_header(const SpectrumHeader& header,
                         std::span<unsigned char, PELMO_HEADER_BYTES> bytes);

// The count block: a 16-bit count word, then either the stored extremes of the
// intensities (short form) or a 32-bit count (long form).
struct PelmoCount {
    std::int16_t word = 0;
    std::int32_t long_count = 0;          // the long form's count
    std::int16_t lowest = 0, highest = 0; // the short form's extremes
    // The load takes every word above 1 for the short form; the & key reads
    // the long form only after a word of -1.
    bool short_form() const { return word > 1; }
    std::int32_t points() const { return short_form() ? word : long_count; }
};
PelmoCount decode_pelmo_count(std::span<const unsigned char, PELMO_COUNT_BYTES> bytes);
// Writes the extremes after a word above 1, the long count after any other.
void encode_pelmo_count(const PelmoCount& count, std::span<unsigned char, PELMO_COUNT_BYTES> bytes);

// The frequency block after the intensities.
struct PelmoAxis {
    double fstart = 0, fend = 0, fstep = 0;
};
PelmoAxis decode_pelmo_axis(std::span<const unsigned char, PELMO_AXIS_BYTES> bytes);
void encode_pelmo_axis(const PelmoAxis& axis, std::span<unsigned char, PELMO_AXIS_BYTES> bytes);
// Whether the limits can give an axis at all: finite, a positive step and an
// end above the start. A step of zero would give equal frequencies, over which
// the viewer divides.
bool pelmo_axis_usable(const PelmoAxis& axis);
// freq[k + 1] = fstart + k * fstep for k = 0 .. n - 1 (freq is 1-based), each
// point computed from its index so that no chain of additions drifts; false
// when the last frequency is not finite or not above the first (a step too
// small to move a frequency this large).
[[nodiscard]] bool fill_linear_axis(std::span<double> freq, std::int32_t n, double fstart,
                                    double fstep);

struct IntensityBlock {
    std::size_t points_read = 0; // whole 16-bit values read
    std::int32_t lowest = 1000000000;
    std::int32_t highest = -1000000000;
};

// Reads `count` 16-bit intensities with a single read into a buffer kept for the
// run (one per thread), then widens them into out[0 .. count) while tracking
// the extremes. On a short file only the whole values that arrived are stored
// and counted.
IntensityBlock read_intensity_block(std::FILE* file, std::int32_t* out, std::size_t count);

} // namespace korax

// Little-endian pieces of the PELMO layout shared by the reader and the append
// command: field access in a byte buffer, and the one-read intensity block.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace korax {

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

struct IntensityBlock {
    std::size_t points_read = 0; // whole 16-bit values read
    std::int32_t lowest = 1000000000;
    std::int32_t highest = -1000000000;
};

// Reads `count` 16-bit intensities with a single read into a buffer kept for the
// run, then widens them into out[0 .. count) while tracking the extremes. On a
// short file only the whole values that arrived are stored and counted.
IntensityBlock read_intensity_block(std::FILE* file, std::int32_t* out, std::size_t count);

} // namespace korax

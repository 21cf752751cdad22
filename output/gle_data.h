// The GLE data file: one fixed-width line per point, written in blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace korax {

// One line of the data file, "%12.4f%9.4f" and CR LF, into out[0..22].
inline constexpr int DATA_LINE_BYTES = 23;
void format_data_line(char* out, double frequency, double normalised);

// The data file's text: a comment naming the spectrum, then one line per point
// from the first point at or above `start`, stopping at the first point beyond
// `end`, with the intensity normalised to (v - lower) / (upper - lower).
// `freq` and `intens` hold points 1..n from their first element. The text goes
// to `sink` in blocks of about a megabyte, so millions of points need no more
// memory than one block. Returns the number of points written. lower != upper.
std::size_t gle_data_text(std::string_view fname, std::span<const double> freq,
                          std::span<const std::int32_t> intens, double start, double end,
                          std::int32_t lower, std::int32_t upper,
                          const std::function<void(std::string_view)>& sink);

} // namespace korax

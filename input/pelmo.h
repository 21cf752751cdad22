// The PELMO binary spectrum format: reading into the store.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

namespace korax {

inline constexpr int PELMO_HEADER_BYTES = 156;

enum class PelmoOutcome { Loaded, NotPelmo, RejectedAxis, Fatal };

// Reads the open file from its first byte into the store, drawing the
// information screen while it loads. Fatal outcomes end the run through
// Window::fatal_end and do not return; Fatal is listed for completeness.
PelmoOutcome read_pelmo(std::FILE* file);

// Decodes the 156 header bytes into a header; false when the date is not
// plausible (not a PELMO file).
struct SpectrumHeader;
bool decode_pelmo_header(std::span<const unsigned char, PELMO_HEADER_BYTES> bytes,
                         SpectrumHeader& header);
void encode_pelmo_header(const SpectrumHeader& header,
                         std::span<unsigned char, PELMO_HEADER_BYTES> bytes);

} // namespace korax

// The information screen with a choice the loader needs: whether the intensity
// range of the header is known yet.
#pragma once

#include <cstdint>

namespace korax {

enum class RangeLine { Known, Unknown };

// SPEINF with RangeLine::Known. With Unknown the point count line stops after the
// count: a long-form PELMO file carries no extremes, and the store's values at
// that moment belong to the previous spectrum.
void show_spectral_information(std::int16_t rows, RangeLine range);

// The comment of the spectrum in work as a white-on-blue band on rows 3 to 5;
// leaves white on blue set.
void draw_comment_band();

} // namespace korax

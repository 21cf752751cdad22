// The screen of recording parameters.
#pragma once

#include <cstdint>

namespace korax {

// Writes the information screen from the text position; pauses half-way when
// rows is 17. Ends with "Press ENTER to continue" (without waiting) when
// FSTART differs from FEND.
void SPEINF(std::int16_t& rows);

} // namespace korax

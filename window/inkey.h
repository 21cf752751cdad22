// Key codes: one 16-bit signed number per key press.
#pragma once

#include <cstdint>

namespace korax {

inline constexpr std::int16_t KEY_ENTER = 13;
inline constexpr std::int16_t KEY_HOME = -71;
inline constexpr std::int16_t KEY_END = -79;

// Waits for one key: a character key gives its code (1..255; 256 for 'a' with
// a grave accent and for characters beyond Latin-1, see Window::get_char), a
// key arriving as the two-code sequence 0/224 + c gives -c. Stores the code in
// `code` and returns it.
std::int16_t INKEY(std::int16_t& code);
std::int16_t INKEY();
// Reads keys until ENTER; every other key is dropped.
void wait_for_enter();

} // namespace korax

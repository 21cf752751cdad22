// Key codes from the window's character stream: one signed number per key press.
#include "window/inkey.h"

#include "window/window.h"

namespace korax {

namespace {
// The last character received (the second of a two-code key); kept as the
// key routine always has, though nothing reads it.
unsigned char last_character = 0;
} // namespace

std::int16_t INKEY(std::int16_t& code) {
    int k = window().get_char();
    last_character = static_cast<unsigned char>(k);
    if (k == 0 || k == 224) {
        k = window().get_char();
        last_character = static_cast<unsigned char>(k);
        code = static_cast<std::int16_t>(-k);
    } else {
        code = static_cast<std::int16_t>(k);
    }
    return code;
}

std::int16_t INKEY() {
    std::int16_t code = 0;
    return INKEY(code);
}

void wait_for_enter() {
    while (INKEY() != KEY_ENTER) {
    }
}

} // namespace korax

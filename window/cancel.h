// Esc as a way out of a command. While a viewer command runs, the key loop
// holds an EscapeCancels; Esc at a typed prompt or a W/Z level adjustment then
// raises Cancelled, and the key loop puts the spectrum back as it was. Outside
// such a scope (outer menu, file prompt) Esc is an ignored key as before.
#pragma once

#include <cstdint>

namespace korax {

inline constexpr int KEY_ESCAPE = 27;

// Thrown by a reader that met Esc inside an EscapeCancels scope.
struct Cancelled {};

class EscapeCancels {
  public:
    EscapeCancels();
    ~EscapeCancels();
    EscapeCancels(const EscapeCancels&) = delete;
    EscapeCancels& operator=(const EscapeCancels&) = delete;
};

// Whether Esc cancels now.
[[nodiscard]] bool escape_cancels();
// Throws Cancelled when `key` is Esc and Esc cancels now.
void cancel_on_escape(int key);

// A key of a W/Z level adjustment: INKEY, where Esc cancels as above.
std::int16_t adjustment_key();

} // namespace korax

// The scope in which Esc cancels a viewer command.
#include "window/cancel.h"

#include "window/inkey.h"

namespace korax {

namespace {
// A count rather than a flag: a command may run another one's dialog.
int g_depth = 0;
} // namespace

EscapeCancels::EscapeCancels() {
    ++g_depth;
}
EscapeCancels::~EscapeCancels() {
    --g_depth;
}

bool escape_cancels() {
    return g_depth > 0;
}

void cancel_on_escape(int key) {
    if (key == KEY_ESCAPE && escape_cancels()) throw Cancelled{};
}

std::int16_t adjustment_key() {
    const std::int16_t key = INKEY();
    cancel_on_escape(key);
    return key;
}

} // namespace korax

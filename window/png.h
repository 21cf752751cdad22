// The window's picture as a PNG file: a 4-bit palette image with the window's
// 16 colours at the canvas's own resolution, whatever the on-screen scale.
#pragma once

#include "window/canvas.h"

#include <vector>

namespace korax {

// The PNG bytes of the canvas; empty when the canvas has no size yet or the
// encoder failed (out of memory).
std::vector<unsigned char> encode_png(const Canvas& canvas);

} // namespace korax

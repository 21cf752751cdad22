// The files a key script asks for: pictures of the canvas and dumps of the text
// grid. Each is written beside its target and renamed into place only when
// complete, so an interrupted run never leaves a truncated picture behind.
#pragma once

#include "window/canvas.h"
#include "window/text_grid.h"

#include <string>
#include <string_view>

namespace korax {

// `name` with `extension` (".png") appended unless it already ends so.
std::string with_extension(std::string_view name, std::string_view extension);

// Writes the canvas as a 4-bit palette PNG with the window's 16 colours. On
// failure returns false and says why in `error`; an existing file stays as it was.
[[nodiscard]] bool write_canvas_png(const Canvas& canvas, const std::string& path,
                                    std::string& error);

// One line per text row, all rows, trailing blanks removed, in UTF-8 (the
// window's character encoding).
std::string text_grid_dump(const TextGrid& grid);

// Writes `text` to `path` through a temporary file.
[[nodiscard]] bool write_text_file(const std::string& path, std::string_view text,
                                   std::string& error);

} // namespace korax

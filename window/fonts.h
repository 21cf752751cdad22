// Glyphs rasterised monochrome through FreeType, faces chosen by fontconfig.
// One cache per window: the text-grid font and the current graphics font.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// What "t'Arial'h18w9ei" asks for.
struct FontSpec {
    std::string face;
    int height = 0; // pixels
    int width = 0;  // average character width in pixels; 0: the face's own
    bool bold = false;
    bool italic = false;
};

// False when the string is malformed: an unknown letter, a missing quote or number.
[[nodiscard]] bool parse_font_spec(std::string_view text, FontSpec& spec);

// One rasterised glyph: a 0/1 coverage bitmap placed relative to the pen.
struct Glyph {
    int left = 0; // pixels from the pen position to the bitmap's left column
    int top = 0;  // pixels from the baseline up to the bitmap's top row
    int width = 0, height = 0;
    int advance = 0;                // pen advance in pixels
    std::vector<std::uint8_t> bits; // width * height, 1 = ink
};

class FontCache {
  public:
    FontCache();
    ~FontCache();
    FontCache(const FontCache&) = delete;
    FontCache& operator=(const FontCache&) = delete;

    // Initialises FreeType and fontconfig; later calls do nothing. Returns false
    // when neither is usable (text then draws nothing but the grid still fills).
    bool load();
    // Makes `spec` the current graphics font.
    void select(const FontSpec& spec);
    // Makes the text-grid font the face `name` fitted into cells of the given size.
    void set_text_font(std::string_view name, std::uint32_t attributes, int cell_width,
                       int cell_height);

    // Glyph of character `c` in the graphics font or the text font; a
    // character the face has no picture for (control characters included)
    // gets the replacement box. nullptr when no font could be loaded.
    const Glyph* graphics_glyph(char32_t c);
    const Glyph* text_glyph(char32_t c);
    // Pixels from the top of a line to the baseline (opening the face if needed).
    int graphics_ascent();
    int text_ascent();

  private:
    struct Face;
    struct Impl;
    std::unique_ptr<Face> open_face(const FontSpec& spec, bool fit_cell, int cell_width);
    static const Glyph* glyph(Face& face, char32_t c);
    std::unique_ptr<Impl> m;
};

} // namespace korax

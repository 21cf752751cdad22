// Fonts by specification string ("t'Arial'h18w9ei"): fontconfig picks the face,
// FreeType rasterises it monochrome. Glyphs are cached per face and size, since
// screens redraw the same few characters over and over.
#include "window/fonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <unordered_map>

namespace korax {

bool parse_font_spec(std::string_view text, FontSpec& spec) {
    spec = FontSpec{};
    auto number = [&](std::size_t& i, int& out) {
        const char* first = text.data() + i;
        const char* last = text.data() + text.size();
        const auto [end, ec] = std::from_chars(first, last, out);
        if (ec != std::errc{} || out < 0) return false;
        i += std::size_t(end - first);
        return true;
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i++];
        switch (c) {
        case ' ':
            break;
        case 't': {
            if (i >= text.size() || (text[i] != '\'' && text[i] != '"')) return false;
            const char quote = text[i++];
            const auto close = text.find(quote, i);
            if (close == std::string_view::npos) return false;
            spec.face = std::string(text.substr(i, close - i));
            i = close + 1;
            break;
        }
        case 'h':
            if (!number(i, spec.height)) return false;
            break;
        case 'w':
            if (!number(i, spec.width)) return false;
            break;
        case 'e':
            spec.bold = true;
            break;
        case 'i':
            spec.italic = true;
            break;
        default:
            return false;
        }
    }
    return true;
}

struct FontCache::Face {
    FT_Face face = nullptr;
    int ascent = 0;
    bool embolden = false; // the matched face lacks the weight that was asked for
    bool oblique = false;  // ... or the slant
    std::array<std::unique_ptr<Glyph>, 256> glyphs; // Latin-1, the usual ones
    std::unordered_map<char32_t, std::unique_ptr<Glyph>> other_glyphs;
    std::unique_ptr<Glyph> replacement;
    ~Face() {
        if (face) FT_Done_Face(face);
    }
};

struct FontCache::Impl {
    bool tried = false;
    bool ready = false;
    FT_Library library = nullptr;
    // Faces by request, so that selecting a font again reuses its glyphs.
    std::map<std::string, std::unique_ptr<Face>> faces;
    FontSpec graphics_spec{"Arial", 16, 0, false, false};
    Face* graphics = nullptr;
    bool graphics_open = false;
    FontSpec text_spec{"Courier New", 0, 0, false, false};
    int cell_width = 0, cell_height = 0;
    Face* text = nullptr;
    bool text_open = false;

    ~Impl() {
        faces.clear();
        if (library) FT_Done_FreeType(library);
        // fontconfig keeps a process-wide configuration; it is given back when
        // the last cache goes, so that leak checkers see a clean exit.
        if (ready && --fontconfig_users == 0) FcFini();
    }
    static inline int fontconfig_users = 0;
};

FontCache::FontCache() : m(std::make_unique<Impl>()) {}

FontCache::~FontCache() = default;

bool FontCache::load() {
    if (m->tried) return m->ready;
    m->tried = true;
    if (!FcInit()) return false;
    if (FT_Init_FreeType(&m->library) != 0) {
        m->library = nullptr;
        if (Impl::fontconfig_users == 0) FcFini();
        return false;
    }
    ++Impl::fontconfig_users;
    m->ready = true;
    return true;
}

void FontCache::select(const FontSpec& spec) {
    m->graphics_spec = spec;
    m->graphics = nullptr;
    m->graphics_open = false;
}

void FontCache::set_text_font(std::string_view name, std::uint32_t /*attributes*/, int cell_width,
                              int cell_height) {
    // The attribute sum of the configuration is accepted as it stands; the
    // face is chosen by name and sized to the cell.
    const std::string face = name.empty() ? std::string("Courier New") : std::string(name);
    if (face == m->text_spec.face && cell_width == m->cell_width && cell_height == m->cell_height)
        return;
    m->text_spec.face = face;
    m->cell_width = cell_width;
    m->cell_height = cell_height;
    m->text = nullptr;
    m->text_open = false;
}

namespace {

// Width of the face's lower-case letters, in font units, averaged: what "w" in
// a font specification is measured against.
double average_width_units(FT_Face face) {
    double sum = 0;
    int n = 0;
    for (char c = 'a'; c <= 'z'; ++c) {
        if (FT_Load_Char(face, FT_ULong(c), FT_LOAD_NO_SCALE) != 0) continue;
        sum += double(face->glyph->metrics.horiAdvance);
        ++n;
    }
    return n > 0 ? sum / n : 0.0;
}

} // namespace

std::unique_ptr<FontCache::Face> FontCache::open_face(const FontSpec& spec, bool fit_cell,
                                                      int cell_width) {
    if (!load()) return nullptr;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return nullptr;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(spec.face.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, spec.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, spec.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return nullptr;

    auto out = std::make_unique<Face>();
    FcChar8* file = nullptr;
    int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
    FcPatternGetInteger(match, FC_SLANT, 0, &slant);
    const bool have_file = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch;
    const FT_Error error =
        have_file ? FT_New_Face(m->library, reinterpret_cast<const char*>(file), index, &out->face)
                  : FT_Err_Cannot_Open_Resource;
    FcPatternDestroy(match);
    if (error != 0 || !out->face || !FT_IS_SCALABLE(out->face)) return nullptr;
    out->embolden = spec.bold && weight < FC_WEIGHT_DEMIBOLD;
    out->oblique = spec.italic && slant == FC_SLANT_ROMAN;

    FT_Face f = out->face;
    const double units = f->units_per_EM;
    const double line_units = double(f->ascender - f->descender);
    if (units <= 0 || line_units <= 0) return nullptr;
    double em_y = 0, em_x = 0;
    if (fit_cell) {
        // The whole line (ascent and descent) fits the cell height and the
        // widest usual character ('M') its width, with square pixels.
        double advance = 0;
        if (FT_Load_Char(f, 'M', FT_LOAD_NO_SCALE) == 0)
            advance = double(f->glyph->metrics.horiAdvance);
        em_y = spec.height * units / line_units;
        if (advance > 0) em_y = std::min(em_y, cell_width * units / advance);
        em_x = em_y;
    } else {
        // h is the height of a line of text, ascent plus descent (16 pixels
        // when not given); w stretches or narrows the face so that its
        // average letter is w pixels wide.
        em_y = (spec.height > 0 ? spec.height : 16) * units / line_units;
        em_x = em_y;
        const double average = average_width_units(f);
        if (spec.width > 0 && average > 0) em_x = spec.width * units / average;
    }
    em_y = std::clamp(em_y, 1.0, 2000.0);
    em_x = std::clamp(em_x, 1.0, 4000.0);
    if (FT_Set_Char_Size(f, static_cast<FT_F26Dot6>(std::lround(em_x * 64)),
                         static_cast<FT_F26Dot6>(std::lround(em_y * 64)), 72, 72) != 0)
        return nullptr;
    out->ascent = static_cast<int>(std::lround(f->ascender * em_y / units));
    return out;
}

namespace {

// Null when the face has no picture of `c`.
std::unique_ptr<Glyph> render(FT_Face face, char32_t c, bool embolden, bool oblique) {
    const bool control = c < 32 || (c >= 127 && c < 160);
    if (control || (c != ' ' && FT_Get_Char_Index(face, FT_ULong(c)) == 0)) return nullptr;
    auto g = std::make_unique<Glyph>();
    const bool blank = c == ' ';
    if (FT_Load_Char(face, FT_ULong(c), FT_LOAD_TARGET_MONO) != 0) return g;
    FT_GlyphSlot slot = face->glyph;
    if (oblique) FT_GlyphSlot_Oblique(slot);
    if (embolden) FT_GlyphSlot_Embolden(slot);
    g->advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (blank || FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return g;
    const FT_Bitmap& bm = slot->bitmap;
    g->left = slot->bitmap_left;
    g->top = slot->bitmap_top;
    g->width = static_cast<int>(bm.width);
    g->height = static_cast<int>(bm.rows);
    g->bits.assign(std::size_t(g->width) * std::size_t(g->height), 0);
    for (int y = 0; y < g->height; ++y) {
        const unsigned char* row = bm.buffer + std::ptrdiff_t(y) * bm.pitch;
        for (int x = 0; x < g->width; ++x) {
            const bool ink = bm.pixel_mode == FT_PIXEL_MODE_MONO
                                 ? (row[x >> 3] >> (7 - (x & 7))) & 1
                                 : row[x] >= 128;
            g->bits[std::size_t(y) * std::size_t(g->width) + std::size_t(x)] = ink ? 1 : 0;
        }
    }
    return g;
}

// One box for every character the face cannot draw: the outline of the
// face's "M", so that it has the size of a letter and cannot be mistaken for
// one.
std::unique_ptr<Glyph> replacement_box(FT_Face face, bool embolden, bool oblique) {
    auto box = render(face, U'M', embolden, oblique);
    if (!box) return std::make_unique<Glyph>();
    for (int y = 0; y < box->height; ++y)
        for (int x = 0; x < box->width; ++x)
            box->bits[std::size_t(y) * std::size_t(box->width) + std::size_t(x)] =
                y == 0 || x == 0 || y == box->height - 1 || x == box->width - 1;
    return box;
}

std::string face_key(const FontSpec& s, bool fit_cell, int cell_width) {
    return s.face + '\n' + std::to_string(s.height) + ' ' + std::to_string(s.width) + ' ' +
           (s.bold ? "b" : "") + (s.italic ? "i" : "") + (fit_cell ? " cell " : " ") +
           std::to_string(cell_width);
}

} // namespace

const Glyph* FontCache::graphics_glyph(char32_t c) {
    if (!m->graphics_open) {
        m->graphics_open = true;
        const auto key = face_key(m->graphics_spec, false, 0);
        auto& slot = m->faces[key];
        if (!slot) slot = open_face(m->graphics_spec, false, 0);
        m->graphics = slot.get();
    }
    return m->graphics ? glyph(*m->graphics, c) : nullptr;
}

const Glyph* FontCache::glyph(Face& f, char32_t c) {
    auto& g = c < 256 ? f.glyphs[c] : f.other_glyphs[c];
    if (!g) {
        g = render(f.face, c, f.embolden, f.oblique);
        if (!g) {
            if (!f.replacement) f.replacement = replacement_box(f.face, f.embolden, f.oblique);
            return f.replacement.get();
        }
    }
    return g.get();
}

const Glyph* FontCache::text_glyph(char32_t c) {
    if (!m->text_open) {
        m->text_open = true;
        FontSpec spec = m->text_spec;
        spec.height = m->cell_height;
        const auto key = face_key(spec, true, m->cell_width);
        auto& slot = m->faces[key];
        if (!slot && m->cell_height > 0 && m->cell_width > 0)
            slot = open_face(spec, true, m->cell_width);
        m->text = slot.get();
    }
    return m->text ? glyph(*m->text, c) : nullptr;
}

int FontCache::graphics_ascent() {
    graphics_glyph(' ');
    return m->graphics ? m->graphics->ascent : 0;
}

int FontCache::text_ascent() {
    text_glyph(' ');
    return m->text ? m->text->ascent : 0;
}

} // namespace korax

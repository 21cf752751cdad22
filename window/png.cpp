// PNG encoding through libpng into memory, so that every caller writes the bytes
// through its own safe file path.
#include "window/png.h"

#include <png.h>

#include <array>
#include <cassert>
#include <cstddef>
#include <new>

namespace korax {

namespace {

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
    try {
        out->insert(out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void no_flush(png_structp) {}

void on_png_error(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Only C calls between the setjmp and libpng's longjmp: nothing with a destructor
// lives in this frame, so the jump cannot skip one.
bool encode_rows(std::vector<unsigned char>* out, png_uint_32 width, png_uint_32 height,
                 png_bytepp rows, png_const_colorp colors, int color_count) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, append_bytes, no_flush);
    png_set_IHDR(png, info, width, height, 4, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, colors, color_count);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

std::vector<unsigned char> encode_png(const Canvas& canvas) {
    const int width = canvas.width();
    const int height = canvas.height();
    if (width <= 0 || height <= 0) return {};
    // Two pixels per byte, high nibble first, as the 4-bit palette format stores them.
    const std::size_t row_bytes = static_cast<std::size_t>(width + 1) / 2;
    std::vector<png_byte> packed(row_bytes * static_cast<std::size_t>(height), 0);
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        png_bytep out = packed.data() + row_bytes * static_cast<std::size_t>(y);
        rows[static_cast<std::size_t>(y)] = out;
        const std::uint8_t* in = canvas.row(y);
        for (int x = 0; x < width; ++x) {
            assert(in[x] < 16 && "canvas pixels are palette indexes 0..15");
            const auto index = static_cast<png_byte>(in[x] & 0x0F);
            out[x / 2] |= static_cast<png_byte>(x % 2 == 0 ? index << 4 : index);
        }
    }
    std::array<png_color, 16> colors{};
    for (std::size_t i = 0; i < colors.size(); ++i)
        colors[i] = png_color{palette()[i].r, palette()[i].g, palette()[i].b};
    std::vector<unsigned char> bytes;
    if (!encode_rows(&bytes, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                     rows.data(), colors.data(), static_cast<int>(colors.size())))
        return {};
    return bytes;
}

} // namespace korax

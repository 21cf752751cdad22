// PNG pictures through libpng and text-grid dumps, both through a temporary file
// in the target's folder that is renamed into place only when complete.
#include "window/headless/dump_files.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace korax {

namespace {

std::string temp_path_for(const std::string& path) {
    return path + ".part";
}

// Moves a finished temporary file over `path`; the rename replaces atomically.
bool commit(const std::string& temp, const std::string& path, std::string& error) {
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        error = "cannot write " + path + ": " + ec.message();
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

// libpng reports errors through longjmp; keep the text for our caller.
void on_png_error(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = message;
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Only C calls between the setjmp and libpng's longjmp: nothing with a destructor
// lives in this frame, so the jump cannot skip one.
bool encode_png(std::FILE* file, png_uint_32 width, png_uint_32 height, png_bytepp rows,
                png_const_colorp colors, int color_count, std::string* error) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, error, on_png_error, on_png_warning);
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
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 4, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, colors, color_count);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool encode_canvas(const Canvas& canvas, std::FILE* file, std::string& error) {
    const int width = canvas.width();
    const int height = canvas.height();
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
    return encode_png(file, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                      rows.data(), colors.data(), static_cast<int>(colors.size()), &error);
}

} // namespace

std::string with_extension(std::string_view name, std::string_view extension) {
    std::string result(name);
    if (result.size() < extension.size() ||
        result.compare(result.size() - extension.size(), extension.size(), extension) != 0)
        result += extension;
    return result;
}

bool write_canvas_png(const Canvas& canvas, const std::string& path, std::string& error) {
    if (canvas.width() <= 0 || canvas.height() <= 0) {
        error = "cannot write " + path + ": the window has no size yet";
        return false;
    }
    const std::string temp = temp_path_for(path);
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string png_error;
    bool ok = encode_canvas(canvas, file, png_error);
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error = "cannot write " + path + (png_error.empty() ? "" : ": " + png_error);
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        return false;
    }
    return commit(temp, path, error);
}

std::string text_grid_dump(const TextGrid& grid) {
    std::string text;
    for (int row = 1; row <= grid.rows(); ++row) {
        text += grid.row_text(row);
        text += '\n';
    }
    return text;
}

bool write_text_file(const std::string& path, std::string_view text, std::string& error) {
    const std::string temp = temp_path_for(path);
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error = "cannot write " + path;
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        return false;
    }
    return commit(temp, path, error);
}

} // namespace korax

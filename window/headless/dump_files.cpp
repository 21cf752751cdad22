// PNG pictures and text-grid dumps, both through a temporary file
// in the target's folder that is renamed into place only when complete.
#include "window/headless/dump_files.h"

#include "window/png.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
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
    const std::vector<unsigned char> bytes = encode_png(canvas);
    bool ok = !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error =
            "cannot write " + path + (bytes.empty() ? ": the picture could not be encoded" : "");
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

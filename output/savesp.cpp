// SAVESP: writes the spectrum in work to a new PELMO binary file next to the
// spectrum it came from. The whole file is composed in one buffer and handed to
// SafeFile in one write, so that an existing file is only replaced by a complete one.
#include "output/savesp.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/safe_file.h"
#include "base/utf8.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace korax {

namespace {

// Byte order is fixed by the file format, not by the machine we run on.
char* put_u16(char* p, std::uint16_t v) {
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>(v >> 8);
    return p + 2;
}
char* put_i16(char* p, std::int16_t v) {
    return put_u16(p, static_cast<std::uint16_t>(v));
}
char* put_u32(char* p, std::uint32_t v) {
    for (int b = 0; b < 4; ++b)
        p[b] = static_cast<char>((v >> (8 * b)) & 0xFF);
    return p + 4;
}
char* put_f32(char* p, float v) {
    return put_u32(p, std::bit_cast<std::uint32_t>(v));
}
char* put_f64(char* p, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int b = 0; b < 8; ++b)
        p[b] = static_cast<char>((bits >> (8 * b)) & 0xFF);
    return p + 8;
}
template <std::size_t N> char* put_chars(char* p, const std::array<char, N>& field) {
    std::memcpy(p, field.data(), N);
    return p + N;
}

// The 156 header bytes in file order.
char* put_header(char* p, const SpectrumHeader& h) {
    p = put_chars(p, h.COMENT);
    for (std::int16_t v : {h.IDAY, h.IMONTH, h.IYEAR, h.IHOUR, h.IMINUT, h.ISECND})
        p = put_i16(p, v);
    p = put_chars(p, h.LAMP);
    for (float v : {h.VKMLO, h.VKMHI, h.GRID})
        p = put_f32(p, v);
    p = put_chars(p, h.SAMPLE);
    for (float v : {h.PRESS, h.GAIN, h.TCONST, h.PHASE})
        p = put_f32(p, v);
    p = put_chars(p, h.NDELAV);
    for (float v : {h.PTSSEC, h.FMOD, h.FDEV})
        p = put_f32(p, v);
    return p;
}

constexpr std::size_t header_bytes = 156;
constexpr std::size_t count_block_bytes = 6;

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(trim_right(text.substr(first)));
}

void write_error(Window& w, const std::string& text) {
    w.set_text_color(12);
    w.write_line(text);
    w.set_text_color(0);
}

} // namespace

SaveScaling save_scaling(std::span<const std::int32_t> intensities) {
    SaveScaling s;
    for (std::int32_t v : intensities) {
        if (v < s.lo) s.lo = v;
        if (v > s.hi) s.hi = v;
    }
    // In 64 bits: the sum and the difference of two extreme 32-bit intensities
    // would overflow.
    const std::int64_t lo = s.lo, hi = s.hi;
    s.mid = static_cast<std::int32_t>((lo + hi) / 2);
    if (hi - lo > 60000) s.factor = 60000.0f / static_cast<float>(hi - lo);
    return s;
}

std::int16_t scaled_intensity(std::int32_t v, const SaveScaling& scaling) {
    const auto centred = static_cast<float>(std::int64_t{v} - scaling.mid);
    // Within [-30000, 30000] by the choice of mid and factor.
    return static_cast<std::int16_t>(std::trunc(centred * scaling.factor));
}

std::string pelmo_file_image(const SpectrumHeader& header,
                             std::span<const std::int32_t> intensities, double fstart, double fend,
                             double fstep, const SaveScaling& scaling) {
    const std::size_t n = intensities.size();
    std::string image(header_bytes + count_block_bytes + 2 * n + 3 * 8 + 2, '\0');
    char* p = put_header(image.data(), header);
    // A count word of 1 or less announces the long form to the reader, so a
    // single point (or none) has to go in the long form as well.
    if (n >= 2 && n <= 32000) {
        p = put_i16(p, static_cast<std::int16_t>(n));
        p = put_i16(p, scaled_intensity(scaling.lo, scaling));
        p = put_i16(p, scaled_intensity(scaling.hi, scaling));
    } else {
        p = put_i16(p, -1);
        p = put_u32(p, static_cast<std::uint32_t>(n));
    }
    const std::int64_t mid = scaling.mid;
    if (scaling.factor == 1.0f) {
        // The common case, kept free of float conversions; identical results
        // because |v - mid| <= 30000 is exact in single precision.
        for (std::int32_t v : intensities)
            p = put_i16(p, static_cast<std::int16_t>(std::int64_t{v} - mid));
    } else {
        for (std::int32_t v : intensities)
            p = put_i16(p, scaled_intensity(v, scaling));
    }
    p = put_f64(p, fstart);
    p = put_f64(p, fend);
    p = put_f64(p, fstep);
    p = put_i16(p, 0);
    return image;
}

namespace {
std::uint64_t g_saves = 0;
} // namespace

std::uint64_t spectrum_saves() {
    return g_saves;
}

void SAVESP() {
    Window& w = window();
    SpectrumStore& s = store();
    const std::string folder = directory_part(trim_right(s.FNAME));

    w.write_line(" ");
    w.write_line(heading("O U T P U T   T O   F I L E"));
    w.write_line("");
    w.write_line("");
    w.write_line("");
    w.write_line(" ");
    std::string shown = s.FNAME;
    if (character_count(shown) < 50) shown = pad(shown, 50);
    w.write_line("     This spectrum is from file:  " + shown);
    w.write_line("");
    w.write_line("     Specify file name for output");
    w.write_line("     (without the path)            ....  ", LineEnd::Stay);
    std::string name = trimmed(w.read_line());

    const auto ask_new_name = [&] {
        w.write_line(" New file name:  ", LineEnd::Stay);
        name = trimmed(w.read_line());
    };

    SafeFile file;
    OpenMode mode = OpenMode::New;
    std::string path;
    for (;;) {
        // ENTER alone at a name prompt is the way out when no name will do
        // (for instance a folder that cannot be written to).
        if (name.empty()) return;
        // A name given with its full path is taken as it stands.
        path = name.front() == '/' ? name : folder + name;
        const SafeFile::Status status = file.open(path, mode);
        if (status == SafeFile::Status::Ok) break;
        if (status == SafeFile::Status::Error) {
            // Asking to overwrite would not help here: report why and ask again.
            write_error(w, "     Cannot create " + path + ": " + file.error_text());
            mode = OpenMode::New;
            ask_new_name();
            continue;
        }
        w.write_line(" ");
        w.write_line("     THIS FILE ALREADY EXISTS, OVERWRITE (Y/N)?  ", LineEnd::Stay);
        const std::string answer = w.read_line();
        const char c = answer.empty() ? '\0' : answer.front();
        if (c == 'Y' || c == 'y') {
            mode = OpenMode::Unknown;
        } else if (c == 'N' || c == 'n') {
            mode = OpenMode::New;
            ask_new_name();
        } else {
            return;
        }
    }

    const std::span<const std::int32_t> points(s.INTENS.data() + 1,
                                               static_cast<std::size_t>(std::max(s.NPTS, 0)));
    const SaveScaling scaling = save_scaling(points);
    s.IYMIN = scaling.lo;
    s.IYMAX = scaling.hi;
    file.write(pelmo_file_image(s.SPHEAD, points, s.FSTART, s.FEND, s.FSTEP, scaling));
    const bool written = file.commit();
    if (written) ++g_saves;

    w.write_line(" ");
    w.write_line("");
    const std::vector<std::string> errors = error_lines(file.error_text());
    if (written) {
        w.write_line("     Output has been written to ", LineEnd::Stay);
        w.set_text_color(12);
        w.write_line(path);
        w.set_text_color(0);
        // A temporary that could not be removed, named so that it can be.
        if (!file.error_text().empty())
            for (const std::string& line : errors)
                write_error(w, "     " + line);
    } else {
        write_error(w, "     Output NOT written to " + path + ": " + errors.front());
        for (std::size_t i = 1; i < errors.size(); ++i)
            write_error(w, "     " + errors[i]);
    }
    w.write_line(" ");
    w.write_line(blanks(40) + "Press ENTER to continue  ", LineEnd::Stay);
    wait_for_enter();
}

} // namespace korax

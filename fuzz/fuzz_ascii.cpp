// The two-column ASCII reader on arbitrary text, three ways: the pair scanner
// over the buffer, its number tokens against the C library, and the whole
// reader (from a file, since it reads by name) followed by the axis check and
// linearisation that the program runs after every successful read.
#include "fuzz/fuzz_common.h"
#include "fuzz/fuzz_reference.h"
#include "input/ascii.h"
#include "input/pairs.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

using korax::fuzz::require;

const std::string& scratch_path() {
    static const std::string path = korax::fuzz::scratch_file("korax_fuzz_ascii_", ".txt");
    return path;
}

bool fits_float(double v) {
    return std::fabs(v) < 0x1p128 - 0x1p103;
}

void check_pairs(std::string_view text) {
    // A blank or a line end after the text changes no pair; the first keeps
    // the scanner to its general way, the second lets it take its shortcut for
    // common forms, which must read alike.
    const std::string general = std::string(text) + " ";
    const std::string with_line_end = std::string(text) + "\n";
    korax::PairScanner scanner(general);
    korax::PairScanner shortcut(with_line_end);
    std::size_t pairs = 0;
    while (const auto p = scanner.next()) {
        require(std::isfinite(p->x) && fits_float(p->x), "a frequency beyond the float range");
        require(std::isfinite(p->y), "an intensity that is not finite");
        // Two numbers of at least one digit and a separator each.
        require(++pairs * 4 <= text.size() + 1, "more pairs than the text can hold");
        const auto q = shortcut.next();
        require(q && std::bit_cast<std::uint64_t>(q->x) == std::bit_cast<std::uint64_t>(p->x) &&
                    std::bit_cast<std::uint32_t>(q->y) == std::bit_cast<std::uint32_t>(p->y),
                "a pair read otherwise with more text after it");
    }
    require(!shortcut.next(), "a pair more with more text after it");
}

void check_tokens(std::string_view text) {
    int checked = 0;
    while (!text.empty() && checked < 64) {
        const std::size_t end = text.find_first_of(" \t\r\n,");
        const std::string_view token = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (token.empty() || token.size() > 400) continue;
        ++checked;
        const auto d = korax::parse_real(token);
        const auto f = korax::parse_real32(token);
        const bool plain = korax::fuzz::plain_decimal(token);
        const auto ref_d = plain ? korax::fuzz::c_library_value<double>(token) : std::nullopt;
        const auto ref_f = plain ? korax::fuzz::c_library_value<float>(token) : std::nullopt;
        if (d) {
            require(ref_d.has_value(), "a 64-bit number the C library does not read");
            require(korax::fuzz::same_value(*d, *ref_d), "a 64-bit value unlike the C library's");
        } else if (ref_d && std::isfinite(*ref_d) && fits_float(*ref_d)) {
            require(false, "a plain 64-bit number refused");
        }
        if (f) {
            require(ref_f.has_value(), "a 32-bit number the C library does not read");
            require(korax::fuzz::same_value(*f, *ref_f), "a 32-bit value unlike the C library's");
        } else if (ref_f && std::isfinite(*ref_f)) {
            require(false, "a plain 32-bit number refused");
        }
    }
}

void check_reader(const std::uint8_t* data, std::size_t size) {
    using namespace korax;
    const korax::fuzz::RemoveAfterRead cleanup{scratch_path()};
    {
        std::FILE* f = std::fopen(scratch_path().c_str(), "wb");
        require(f != nullptr, "the scratch file could not be created");
        require(std::fwrite(data, 1, size, f) == size, "the scratch file could not be written");
        std::fclose(f);
    }
    fuzz::prepare_run();
    SpectrumStore& s = store();
    s.FNAME = scratch_path();
    try {
        if (!read_ascii_spectrum()) return;
        require(s.NPTS >= 4 && s.NPTS <= MAXPTS, "a loaded point count outside 4..MAXPTS");
        require(s.FSTART < s.FEND, "a loaded axis that does not rise");
        require(std::isfinite(s.FSTEP) && s.FSTEP > 0, "a loaded step that is not positive");
        linearise_axis();
    } catch (const RunEnded&) {
        // Only a wait for a key the harness never gives ends the run here.
        return;
    }
    // Rescaled to -10000..10000, or (a text carrying a PELMO header) whole
    // 16-bit values kept as they are, with their extremes as the limits.
    require(s.IYMIN >= -32768 && s.IYMAX <= 32767 && s.IYMIN < s.IYMAX,
            "intensity limits outside 16 bits");
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        const auto k = static_cast<std::size_t>(i);
        require(std::isfinite(s.FREQ[k]), "a frequency that is not finite");
        require(s.INTENS[k] >= s.IYMIN && s.INTENS[k] <= s.IYMAX,
                "an intensity outside the limits the reader set");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_pairs(text);
    check_tokens(text);
    check_reader(data, size);
    return 0;
}

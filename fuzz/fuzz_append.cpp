// The & key's join on two spectra from the fuzzer: the one in work, loaded by
// the PELMO reader, and the second file. The input is a 4-byte little-endian
// length L, then L bytes of the first file (fewer when the input is shorter),
// then the second file. Whatever the two axes, the join must end, stay within
// the store, and make every new point from the appended intensities.
#include "fuzz/fuzz_common.h"
#include "input/pelmo.h"
#include "viewer/append.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// fmemopen refuses an empty buffer; an empty file is /dev/null.
FilePtr memory_file(const std::uint8_t* data, std::size_t size) {
    return FilePtr(size == 0 ? std::fopen("/dev/null", "rb")
                             : fmemopen(const_cast<std::uint8_t*>(data), size, "rb"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korax;
    using fuzz::require;
    if (size < 4) return 0;
    fuzz::prepare_run();
    const std::size_t length = std::min<std::size_t>(
        size - 4, std::size_t(data[0]) | std::size_t(data[1]) << 8 | std::size_t(data[2]) << 16 |
                      std::size_t(data[3]) << 24);
    const std::uint8_t* first = data + 4;
    const std::uint8_t* second = first + length;
    const std::size_t second_size = size - 4 - length;

    {
        const FilePtr file = memory_file(first, length);
        require(file != nullptr, "the first spectrum could not be opened as a file");
        try {
            if (read_pelmo(file.get()) != PelmoOutcome::Loaded) return 0;
        } catch (const RunEnded&) {
            return 0;
        }
    }
    SpectrumStore& s = store();
    const std::int32_t n0 = s.NPTS;

    const FilePtr file = memory_file(second, second_size);
    require(file != nullptr, "the second spectrum could not be opened as a file");
    const auto a = read_appended(file.get());
    if (!a) return 0;
    require(a->n >= 10 && a->n <= MAXPTS, "an appended count outside 10..MAXPTS");
    require(static_cast<std::size_t>(a->n) * 2 + 186 <= second_size,
            "more appended points than the file holds");
    if (!reaches_beyond_end(*a)) return 0;

    const auto lowest = *std::min_element(&s.ORIGNL[1], &s.ORIGNL[1] + a->n);
    const auto highest = *std::max_element(&s.ORIGNL[1], &s.ORIGNL[1] + a->n);
    const auto joined = append_join(*a, n0);
    if (!joined) return 0;
    require(s.NPTS >= n0 && s.NPTS <= MAXPTS, "a joined count outside n0..MAXPTS");
    require(joined->skipped >= 0 && joined->skipped <= a->n - 2, "more points skipped than read");
    require(joined->dummies >= 0 && n0 + joined->dummies <= s.NPTS, "dummies beyond the join");
    // Every new point is a(1) or lies between two appended neighbours; one unit
    // of slack for the rounding of the last bracket. Where the current step
    // carries the frequency out of range no interpolation is meaningful. The
    // first point after a gap is the exception: it lies on the line through
    // a(1) and a(2), which may pass beyond every appended value.
    if (!(s.FSTEP > 0) || !std::isfinite(s.FSTEP)) return 0;
    for (std::int32_t i = n0 + 1; i <= s.NPTS; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (!std::isfinite(s.FREQ[k])) break;
        if (i == joined->first_resampled && joined->dummies > 0) continue;
        require(s.INTENS[k] >= lowest - 1 && s.INTENS[k] <= highest + 1,
                "a joined intensity outside the appended ones");
    }
    return 0;
}

// The PELMO binary reader on arbitrary bytes: every file must end in one of the
// four outcomes (a fatal end unwinds as RunEnded) and, when loaded, leave a
// spectrum the viewer can work on.
#include "fuzz/fuzz_common.h"
#include "input/pelmo.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korax;
    fuzz::prepare_run();
    // fmemopen refuses an empty buffer; an empty file is /dev/null.
    std::unique_ptr<std::FILE, FileCloser> file(
        size == 0 ? std::fopen("/dev/null", "rb")
                  : fmemopen(const_cast<std::uint8_t*>(data), size, "rb"));
    fuzz::require(file != nullptr, "the input could not be opened as a file");

    PelmoOutcome outcome = PelmoOutcome::Fatal;
    try {
        outcome = read_pelmo(file.get());
    } catch (const RunEnded& e) {
        fuzz::require(e.status == 1, "a fatal end with a status other than 1");
        return 0;
    }
    if (outcome != PelmoOutcome::Loaded) return 0;

    // What the viewer relies on after a load.
    const SpectrumStore& s = store();
    fuzz::require(s.NPTS >= 1 && s.NPTS <= MAXPTS, "a loaded point count outside 1..MAXPTS");
    fuzz::require(static_cast<std::size_t>(s.NPTS) * 2 + 186 <= size,
                  "more points loaded than the file holds");
    fuzz::require(s.IYMIN <= s.IYMAX, "intensity extremes in the wrong order");
    fuzz::require(s.IYMIN >= -32768 && s.IYMAX <= 32767, "intensity extremes beyond 16 bits");
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        const auto k = static_cast<std::size_t>(i);
        fuzz::require(std::isfinite(s.FREQ[k]), "a frequency that is not finite");
        fuzz::require(s.INTENS[k] >= s.IYMIN && s.INTENS[k] <= s.IYMAX,
                      "an intensity outside the extremes");
        fuzz::require(i == 1 || s.FREQ[k] >= s.FREQ[k - 1], "a decreasing axis");
    }
    return 0;
}

// The batch commands' load and work on arbitrary bytes: every file is either
// refused with a reason or loaded as a spectrum the processing can take, and
// then smoothing, a baseline, the noise estimate, PEAKFINDER and the text
// conversion all run over it without a fault.
#include "batch/commands.h"
#include "batch/processing.h"
#include "fuzz/fuzz_common.h"
#include "input/spectrum_file.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

const std::string& scratch_path() {
    static const std::string path = korax::fuzz::scratch_file("korax_fuzz_batch_", ".001");
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korax;
    const korax::fuzz::RemoveAfterRead remove{scratch_path()};
    {
        std::FILE* f = std::fopen(scratch_path().c_str(), "wb");
        require(f != nullptr, "the scratch file could not be made");
        require(std::fwrite(data, 1, size, f) == size, "the scratch file could not be written");
        std::fclose(f);
    }
    Spectrum sp;
    const std::string why = load_spectrum(scratch_path(), sp);
    if (!why.empty()) return 0;

    const auto n = std::size_t(sp.npts);
    require(sp.npts >= 4 && sp.npts <= MAXPTS, "a loaded spectrum of fewer than 4 points");
    require(sp.freq.size() >= n + 2 && sp.intens.size() >= n + 2,
            "arrays shorter than the spectrum");
    for (std::size_t i = 2; i <= n; ++i)
        require(sp.freq[i] >= sp.freq[i - 1], "a frequency axis that falls");
    require(sp.freq[n] > sp.freq[1], "an axis without a range");
    if (sp.format == Spectrum::Format::Ascii)
        for (std::size_t i = 1; i <= n; ++i)
            require(sp.intens[i] >= -10000 && sp.intens[i] <= 10000,
                    "a text intensity beyond 10000");

    (void)ascii_image(sp);
    PeaksSettings st;
    st.smooth = 5;
    st.baseline = data[size - 1] % 2 ? 7 : -7;
    st.clip_lo = -50;
    st.clip_hi = 50;
    st.nfit = 5;
    st.cutoff_sigma = 3;
    const double noise = noise_deviation(sp.intens, sp.npts, st.smooth);
    require(std::isfinite(noise) && noise >= 0, "a noise estimate that is not a deviation");
    const auto levels = process_spectrum(sp, st);
    require(levels.has_value(), "processing stopped without being asked to");
    const PeakResults res = find_peaks(sp, *levels, st, noise);
    require(res.totals.count + res.totals.failed == std::int32_t(res.lines.size()),
            "lines counted and listed differ");
    return 0;
}

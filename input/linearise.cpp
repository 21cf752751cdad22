// The axis check that follows every ASCII read: statistics of how far the read
// frequencies stray from the straight line through the first and last one, a
// report when they stray by more than a tenth of a step, and the resampling.
#include "input/linearise.h"

#include "base/format.h"
#include "driver/store.h"
#include "input/ascii.h"
#include "window/window.h"

#include <cassert>
#include <cmath>
#include <string>

namespace korax {

AxisStatistics axis_statistics(std::span<const double> freq, double fstart, double fstep) {
    AxisStatistics st;
    const auto n = static_cast<std::int32_t>(freq.size()) - 1;
    double k = 1.0;
    for (std::int32_t i = 2; i <= n; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const auto deviation = static_cast<float>(std::fabs(fstart + k * fstep - freq[at]));
        const auto step = static_cast<float>(freq[at] - freq[at - 1]);
        k += 1.0;
        if (deviation > st.max_deviation) {
            st.max_deviation = deviation;
            st.max_deviation_at = i;
        }
        if (step > st.max_step) {
            st.max_step = step;
            st.max_step_at = i;
        }
        if (step < st.min_step) {
            st.min_step = step;
            st.min_step_at = i;
        }
        st.sum_deviation += deviation;
    }
    return st;
}

void resample_linear(std::span<double> freq, std::span<std::int32_t> intens,
                     std::span<std::int32_t> scratch, double fstart, double fstep) {
    assert(freq.size() == intens.size() && scratch.size() >= freq.size() && fstep > 0);
    const auto n = freq.size() - 1;
    std::size_t u = 2;
    double k = 1.0;
    for (std::size_t j = 2; j < n; ++j) {
        const double f = fstart + k * fstep;
        k += 1.0;
        // f may round onto the last frequency when the step is finer than the
        // frequencies' own resolution: the search stops at point n, and a grid
        // point on or beyond it takes the last intensity.
        while (u < n && freq[u] <= f)
            ++u;
        if (f >= freq[u]) {
            scratch[j] = intens[u];
            continue;
        }
        const std::int32_t rise = intens[u] - intens[u - 1];
        const double y = intens[u - 1] + (f - freq[u - 1]) * rise / (freq[u] - freq[u - 1]);
        scratch[j] = static_cast<std::int32_t>(y);
    }
    k = 1.0;
    for (std::size_t j = 2; j < n; ++j) {
        intens[j] = scratch[j];
        freq[j] = fstart + k * fstep;
        k += 1.0;
    }
}

void linearise_axis() {
    SpectrumStore& s = store();
    const auto size = static_cast<std::size_t>(s.NPTS) + 1;
    const std::span<double> freq(s.FREQ.data(), size);
    const AxisStatistics st = axis_statistics(freq, s.FSTART, s.FSTEP);
    if (0.1 * s.FSTEP >= static_cast<double>(st.max_deviation)) return;

    Window& w = window();
    const std::string indent = blanks(10);
    auto located = [&](const char* words, float value, std::int32_t at) {
        w.write_line(indent + words + fmt_fixed(static_cast<double>(value), 12, 5) + "  at point" +
                     fmt_int(at, 7) + fmt_fixed(s.FREQ[static_cast<std::size_t>(at)], 15, 5));
    };
    w.set_text_background(7);
    w.set_text_color(12);
    w.write_line("");
    w.write_line(indent + "The data is not linear in frequency:");
    w.set_text_color(0);
    located(" Maximum deviation = ", st.max_deviation, st.max_deviation_at);
    located("      Maximum step = ", st.max_step, st.max_step_at);
    located("      Minimum step = ", st.min_step, st.min_step_at);
    w.write_line(indent + "      DeltaF/(n-1) = " + fmt_fixed(s.FSTEP, 12, 5));
    w.write_line("");
    w.write_line(indent +
                 " Sum of deviations = " + fmt_fixed(static_cast<double>(st.sum_deviation), 12, 5));
    const float average = st.sum_deviation / static_cast<float>(s.NPTS - 1);
    w.write_line(indent + " average deviation = " + fmt_fixed(static_cast<double>(average), 12, 5));
    w.write_line("");
    w.write_line(indent + "KORAX will now linearise the frequency axis by linear interpolation,");
    w.write_line(indent + "but you might still want to check the input");
    w.write_line("");

    resample_linear(freq, std::span<std::int32_t>(s.INTENS.data(), size),
                    std::span<std::int32_t>(s.ORIGNL.data(), size), s.FSTART, s.FSTEP);
}

} // namespace korax

// The axis check that follows every ASCII read: statistics of how far the read
// frequencies stray from the straight line through the first and last one, and
// the resampling onto it. The report of linearise_screen.cpp shows them.
#include "input/linearise.h"

#include <cassert>
#include <cmath>

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

} // namespace korax

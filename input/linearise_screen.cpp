// The report of an ASCII spectrum whose axis strays by more than a tenth of a
// step from the straight line, drawn before the resampling that follows it.
#include "input/ascii.h"
#include "input/linearise.h"

#include "base/format.h"
#include "spectrum/store.h"
#include "window/window.h"

#include <string>

namespace korax {

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

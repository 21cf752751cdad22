// Test support: puts a made-up spectrum and a window geometry into the store,
// as the readers and the window set-up would.
#pragma once

#include "spectrum/store.h"

#include <cmath>
#include <cstdint>
#include <functional>

namespace korax::testing {

// The geometry of a width x height window with `rows` text rows.
inline void set_geometry(int width, int height, int rows) {
    auto& g = store().SCREEN;
    g.MAXX = static_cast<std::int16_t>(width - 1);
    g.MAXY = static_cast<std::int16_t>(height - 1);
    g.NROWS = static_cast<std::int16_t>(rows);
    g.NCOLS = 80;
    g.ROWPIX = static_cast<std::int16_t>(std::lround(double(g.MAXY) / rows) + 1);
}

// n points from f1 in steps of `step`, intensities y(i) for i = 1..n.
inline void load_spectrum(std::int32_t n, double f1, double step,
                          const std::function<std::int32_t(std::int32_t)>& y) {
    auto& s = store();
    s.NPTS = n;
    s.FSTART = f1;
    s.FSTEP = step;
    s.IYMIN = 1000000000;
    s.IYMAX = -1000000000;
    double k = 0;
    for (std::int32_t i = 1; i <= n; ++i, k += 1.0) {
        auto j = static_cast<std::size_t>(i);
        s.FREQ[j] = f1 + k * step;
        s.INTENS[j] = y(i);
        if (s.INTENS[j] < s.IYMIN) s.IYMIN = s.INTENS[j];
        if (s.INTENS[j] > s.IYMAX) s.IYMAX = s.INTENS[j];
    }
    s.FEND = s.FREQ[static_cast<std::size_t>(n)];
    s.FNAME = "spectrum.001";
}

} // namespace korax::testing

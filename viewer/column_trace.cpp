#include "viewer/column_trace.h"

#include "base/extremes.h"
#include "base/two_halves.h"
#include "window/window.h"

#include <algorithm>
#include <cassert>

namespace korax {

std::vector<PointSpan> column_spans(const std::vector<double>& f, std::int32_t first,
                                    std::int32_t last) {
    const Window& w = window();
    const auto column = [&](std::int32_t i) {
        return w.to_pixel_x(f[static_cast<std::size_t>(i)]);
    };
    std::vector<PointSpan> spans;
    for (std::int32_t i = first; i <= last;) {
        // The last point j of i's column: galloping, then halving.
        const int c = column(i);
        std::int32_t j = i, step = 1;
        while (j + step <= last && column(j + step) == c) {
            j += step;
            step *= 2;
        }
        std::int32_t beyond = std::min(j + step, last + 1);
        while (beyond - j > 1) {
            const std::int32_t mid = j + (beyond - j) / 2;
            if (column(mid) == c)
                j = mid;
            else
                beyond = mid;
        }
        spans.push_back({i, j});
        i = j + 1;
    }
    return spans;
}

void column_extremes(std::span<const std::int32_t> y, std::span<const PointSpan> spans,
                     std::span<std::pair<std::int32_t, std::int32_t>> out) {
    assert(out.size() == spans.size());
    if (spans.empty()) return;
    assert(spans.front().first >= 0 && static_cast<std::size_t>(spans.back().last) < y.size());
    const std::size_t split = half_of_the_points(spans);
    in_two_halves(spans.back().last - spans.front().first + 1, [&](int half) {
        for (std::size_t c = half ? split : 0; c < (half ? spans.size() : split); ++c)
            out[c] = extremes_of(y.subspan(std::size_t(spans[c].first),
                                           std::size_t(spans[c].last - spans[c].first + 1)));
    });
}

void draw_column_trace(const std::vector<double>& f, std::span<const std::int32_t> y,
                       std::int32_t first, std::int32_t last, double y_low, double y_high) {
    const std::vector<PointSpan> spans = column_spans(f, first, last);
    std::vector<std::pair<std::int32_t, std::int32_t>> extremes(spans.size());
    column_extremes(y, spans, extremes);
    static std::vector<double> x;
    static std::vector<std::int32_t> v;
    column_points(
        f, spans, extremes, [&](std::int32_t i) { return y[static_cast<std::size_t>(i)]; }, x, v);
    window().polyline(x, v, y_low, y_high);
}

} // namespace korax

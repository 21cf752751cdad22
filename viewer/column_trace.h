// A long trace drawn from its pixel columns: per column its first and last
// point and its extremes, which draw the same pixels as all its points when
// the axis rises (or falls) steadily, as every spectrum's does after loading.
// Reading only the intensities, in two halves side by side, keeps a key of a
// 3,000,000-point display within a few milliseconds.
#pragma once

#include "analysis/difference.h"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace korax {

// The pixel columns of f[first..last] in the window's plot coordinates as
// they are set: the first and last point of each, in order.
std::vector<PointSpan> column_spans(const std::vector<double>& f, std::int32_t first,
                                    std::int32_t last);

// The smallest and largest of y over each span, the two halves of the points
// side by side where it pays.
void column_extremes(std::span<const std::int32_t> y, std::span<const PointSpan> spans,
                     std::span<std::pair<std::int32_t, std::int32_t>> out);

// The points that draw, as a polyline, the same pixels as all the points of
// the spans: per pixel column its first and last point and its extremes (at
// the first point's frequency); the last column's points all as they are,
// since the trace's last segment leaves out its end pixel and the order of
// that column's points then counts. `value(i)` is point i's intensity.
template <class Value>
void column_points(const std::vector<double>& f, std::span<const PointSpan> spans,
                   std::span<const std::pair<std::int32_t, std::int32_t>> extremes, Value&& value,
                   std::vector<double>& x, std::vector<std::int32_t>& y) {
    x.clear();
    y.clear();
    const auto put = [&](double at, std::int32_t v) {
        x.push_back(at);
        y.push_back(v);
    };
    for (std::size_t c = 0; c < spans.size(); ++c) {
        const auto [i, j] = spans[c];
        if (c + 1 == spans.size()) {
            for (std::int32_t k = i; k <= j; ++k)
                put(f[static_cast<std::size_t>(k)], value(k));
            break;
        }
        const double fi = f[static_cast<std::size_t>(i)];
        put(fi, value(i));
        if (j > i) {
            // Every point of the column lies in its one pixel column: the
            // vertical runs between them cover its extremes, whatever order.
            put(fi, extremes[c].first);
            put(fi, extremes[c].second);
            put(f[static_cast<std::size_t>(j)], value(j));
        }
    }
}

// Draws y over f[first..last] (1 <= first <= last) in the current colour and
// mode, the intensities held in [y_low, y_high], with the pixels of a
// polyline through all the points.
void draw_column_trace(const std::vector<double>& f, std::span<const std::int32_t> y,
                       std::int32_t first, std::int32_t last, double y_low, double y_high);

} // namespace korax

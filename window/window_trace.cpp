// The fast path of a long trace: a solid trace in copy mode is drawn as one run
// per pixel column, found by a galloping search over a steadily rising axis, so
// that millions of points cost little more than the columns they cover. Every
// other trace takes the general line_to path.
#include "window/window.h"

#include "base/extremes.h"
#include "window/raster_rules.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korax {

using raster::near_margin;
using raster::round_pixel;

namespace {

// True when every x lies in [low, high] (a NaN does not).
bool within(std::span<const double> x, double low, double high) {
    std::size_t i = 0;
    bool inside = true;
#if defined(__SSE2__)
    // Two at a time: this reads every x of a long trace.
    const __m128d lo = _mm_set1_pd(low), hi = _mm_set1_pd(high);
    __m128d all = _mm_castsi128_pd(_mm_set1_epi32(-1));
    for (; i + 2 <= x.size(); i += 2) {
        const __m128d v = _mm_loadu_pd(x.data() + i);
        all = _mm_and_pd(all, _mm_and_pd(_mm_cmpge_pd(v, lo), _mm_cmple_pd(v, hi)));
    }
    inside = _mm_movemask_pd(all) == 3;
#endif
    for (; i < x.size(); ++i)
        inside &= x[i] >= low && x[i] <= high;
    return inside;
}

} // namespace

void Window::polyline(std::span<const double> x, std::span<const std::int32_t> y, double y_low,
                      double y_high) {
    assert(x.size() == y.size() && "polyline needs as many x as y values");
    if (x.empty()) return;
    auto clamped = [&](std::size_t i) { return std::min(std::max(double(y[i]), y_low), y_high); };
    move_to(x[0], clamped(0));
    if (m_state.write_mode != WriteMode::Copy || m_state.line_style != 0xFFFF) {
        // Exclusive-or and dashes depend on every pixel of every segment.
        for (std::size_t i = 1; i < x.size(); ++i)
            line_to(x[i], clamped(i));
        return;
    }

    // Solid copy: only the union of the pixels matters. The points that fall
    // in one pixel column, one after the other, are joined by vertical segments
    // whose union is the column from their lowest to their highest pixel (each
    // is the start of a segment, so it is drawn); that run is drawn once when
    // the trace leaves the column, by an exact segment to the next column.
    // Only the end of the whole trace is left out, as line_to leaves it out.
    const auto colour = static_cast<std::uint8_t>(m_state.color);
    const double wx1 = m_state.wx1, wy1 = m_state.wy1, sx = m_sx, sy = m_sy;
    const double ax1 = m_state.area_x1, ay2 = m_state.area_y2;
    const double low_edge = -near_margin, right_edge = width() + near_margin,
                 bottom_edge = height() + near_margin;
    auto draw_run = [&](int column, int lo, int hi) {
        if (column < m_state.area_x1 || column > m_state.area_x2) return;
        lo = std::max(lo, m_state.area_y1);
        hi = std::min(hi, m_state.area_y2);
        for (int r = lo; r <= hi; ++r)
            m_canvas.row(r)[column] = colour;
    };

    auto near_pixel = [&](std::size_t i, int& qx, int& qy) {
        const double nx = map_x(x[i]), ny = map_y(clamped(i));
        if (!(nx >= low_edge && nx <= right_edge && ny >= low_edge && ny <= bottom_edge))
            return false;
        qx = round_pixel(nx);
        qy = round_pixel(ny);
        return true;
    };
    // Segments of no length at the end draw nothing, not even their start:
    // dropping them leaves a last segment that draws its start pixel.
    std::size_t n = x.size();
    const double end_x = map_x(x[n - 1]), end_y = map_y(clamped(n - 1));
    for (int ex, ey, bx, by;
         n > 1 && near_pixel(n - 1, ex, ey) && near_pixel(n - 2, bx, by) && ex == bx && ey == by;)
        --n;
    double fx = m_state.gx, fy = m_state.gy;
    bool near = fx >= low_edge && fx <= right_edge && fy >= low_edge && fy <= bottom_edge;
    // While `near`, the run is column run_x from lo to hi and holds the
    // previous point (px, py).
    int px = near ? round_pixel(fx) : 0, py = near ? round_pixel(fy) : 0;
    int run_x = px, lo = py, hi = py;

    // One point: the segment from the previous point to it.
    auto step = [&](std::size_t i) {
        const bool last = i + 1 == n;
        // The same arithmetic as map_x and map_y; a value that is not near
        // (non-finite ones included) takes the general path below.
        const double nx = (x[i] - wx1) * sx + ax1;
        const double ny = ay2 - (std::min(std::max(double(y[i]), y_low), y_high) - wy1) * sy;
        const bool next_near =
            nx >= low_edge && nx <= right_edge && ny >= low_edge && ny <= bottom_edge;
        if (near && next_near) {
            const int qx = round_pixel(nx), qy = round_pixel(ny);
            if (qx == run_x && !last) {
                lo = std::min(lo, qy);
                hi = std::max(hi, qy);
            } else if (qx == run_x) {
                // The last vertical segment stops short of the end point.
                if (qy > py) hi = std::max(hi, qy - 1);
                if (qy < py) lo = std::min(lo, qy + 1);
            } else {
                draw_run(run_x, lo, hi);
                raw_line(px, py, qx, qy);
                run_x = qx;
                lo = hi = qy;
                if (last) lo = hi + 1; // the end of the trace is not drawn
            }
            px = qx;
            py = qy;
            fx = nx;
            fy = ny;
        } else {
            if (near) draw_run(run_x, lo, hi);
            const double gx = map_x(x[i]), gy = map_y(clamped(i));
            draw_segment(fx, fy, gx, gy);
            fx = gx;
            fy = gy;
            if (next_near) {
                px = run_x = round_pixel(nx);
                py = lo = hi = round_pixel(ny);
                if (last) lo = hi + 1;
            }
        }
        near = next_near;
    };

    // A spectrum's x rises (or falls) steadily, so the points of one pixel
    // column follow each other: the end of a column's stretch is found by a
    // galloping search on the column, and the stretch's pixels come from its
    // highest and lowest intensity alone, since the mapping keeps their order.
    // Only the points around a change of column go through `step`. A stretch
    // whose x are not all between its first and last x is drawn by `step`.
    auto column_of = [&](std::size_t k) {
        const double v = (x[k] - wx1) * sx + ax1;
        if (v >= low_edge && v <= right_edge) return round_pixel(v);
        return v < low_edge ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
    };
    std::size_t k = 1;
    while (k < n) {
        if (!near || k + 1 >= n || column_of(k) != run_x) {
            step(k++);
            continue;
        }
        // Points k..j lie in column run_x and none is the end of the trace.
        std::size_t j = k, stride = 1;
        const std::size_t limit = n - 2;
        while (j + stride <= limit && column_of(j + stride) == run_x) {
            j += stride;
            stride *= 2;
        }
        std::size_t beyond = std::min(j + stride, limit + 1);
        while (beyond - j > 1) {
            const std::size_t mid = j + (beyond - j) / 2;
            if (column_of(mid) == run_x)
                j = mid;
            else
                beyond = mid;
        }
        const auto [y_min, y_max] = extremes_of(y.subspan(k, j - k + 1));
        const double a = ay2 - (std::min(std::max(double(y_min), y_low), y_high) - wy1) * sy;
        const double b = ay2 - (std::min(std::max(double(y_max), y_low), y_high) - wy1) * sy;
        if (!within(x.subspan(k, j - k + 1), std::min(x[k], x[j]), std::max(x[k], x[j])) ||
            !(a >= low_edge && a <= bottom_edge && b >= low_edge && b <= bottom_edge)) {
            for (; k <= j; ++k)
                step(k);
            continue;
        }
        const int pa = round_pixel(a), pb = round_pixel(b);
        lo = std::min({lo, pa, pb});
        hi = std::max({hi, pa, pb});
        fx = (x[j] - wx1) * sx + ax1;
        fy = ay2 - (std::min(std::max(double(y[j]), y_low), y_high) - wy1) * sy;
        px = run_x;
        py = round_pixel(fy);
        k = j + 1;
    }
    if (near && n > 1) draw_run(run_x, lo, hi);
    m_state.gx = end_x;
    m_state.gy = end_y;
    mark_dirty(m_state.area_x1, m_state.area_y1, m_state.area_x2, m_state.area_y2);
}

} // namespace korax

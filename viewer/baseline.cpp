// The viewer's N and B keys: smoothing and baseline subtraction through SMOOTH,
// the cutoff dialog of fine control, and the picture of the subtracted baseline.
// The settings typed here are kept for the whole run.
#include "viewer/baseline.h"

#include "analysis/smooth.h"
#include "analysis/smoothing_passes.h"
#include "base/format.h"
#include "spectrum/store.h"
#include "viewer/commands.h"
#include "viewer/display.h"
#include "window/cancel.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace korax {

SmoothSettings& smooth_settings() {
    static SmoothSettings settings;
    return settings;
}

std::int32_t move_upper_cutoff(std::int32_t cuthi, int key, std::int32_t step) {
    switch (key) {
    case 'z':
        cuthi -= step;
        break;
    case 'Z':
        cuthi -= 10 * step;
        break;
    case 'w':
        cuthi += step;
        break;
    case 'W':
        cuthi += 5 * step;
        break;
    default:
        return cuthi;
    }
    // No upper bound is asked for; this one only keeps band edges from wrapping.
    return std::clamp(cuthi, -497 * step, 1000000000);
}

std::int32_t move_lower_cutoff(std::int32_t cutlo, int key, std::int32_t step, std::int32_t cuthi) {
    switch (key) {
    case 'z':
        cutlo -= step;
        break;
    case 'Z':
        cutlo -= 10 * step;
        break;
    case 'w':
        cutlo += step;
        break;
    case 'W':
        cutlo += 5 * step;
        break;
    default:
        return cutlo;
    }
    // Held far from the 32-bit ends so that band edges never wrap.
    return std::clamp(cutlo, -1000000000, cuthi - 3 * step);
}

namespace {

void prepare_screen(Window& w) {
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.set_text_cursor(true);
    w.set_text_position(1, 1);
}

// One intensity array over the displayed points, clipped into the display.
void draw_displayed(Window& w, const ViewerState& v, const std::vector<std::int32_t>& y) {
    const auto& s = store();
    const auto first = std::size_t(v.IFIRST), count = std::size_t(v.ILAST - v.IFIRST + 1);
    w.polyline(std::span<const double>(s.FREQ).subspan(first, count),
               std::span<const std::int32_t>(y).subspan(first, count), v.YLOW, v.YHIGH);
}

// BASLIN + offset through every s-th displayed point.
class CutoffTrace {
  public:
    explicit CutoffTrace(const ViewerState& v) {
        const std::int32_t range = v.ILAST - v.IFIRST;
        m_step = std::max(1, 3 * (range / store().SCREEN.MAXX) + 3);
        const std::int32_t vertices = (range + m_step) / m_step;
        m_x.resize(std::size_t(vertices));
        m_y.resize(std::size_t(vertices));
        for (std::int32_t k = 0; k < vertices; ++k)
            m_x[std::size_t(k)] = store().FREQ[std::size_t(v.IFIRST + k * m_step)];
        m_first = v.IFIRST;
    }
    void draw(Window& w, const ViewerState& v, std::int32_t offset) {
        const auto& s = store();
        for (std::size_t k = 0; k < m_y.size(); ++k) {
            const std::int64_t y =
                std::int64_t(s.BASLIN[std::size_t(m_first) + k * std::size_t(m_step)]) + offset;
            m_y[k] = static_cast<std::int32_t>(std::clamp<std::int64_t>(y, INT32_MIN, INT32_MAX));
        }
        w.polyline(m_x, m_y, v.YLOW, v.YHIGH);
    }

  private:
    std::int32_t m_step = 1, m_first = 1;
    std::vector<double> m_x;
    std::vector<std::int32_t> m_y;
};

std::int32_t cutoff_step(const ViewerState& v) {
    const auto t = static_cast<std::int32_t>((v.YHIGH - v.YLOW) / store().SCREEN.MAXY);
    return t == 0 ? 1 : t;
}

template <class Move>
std::int32_t drag_cutoff(Window& w, const ViewerState& v, CutoffTrace& trace, std::int32_t value,
                         const char* label, Move move) {
    auto label_text = [&](std::int32_t x) { return std::string(label) + fmt_int(x, 7); };
    trace.draw(w, v, value);
    for (;;) {
        const std::int16_t key = adjustment_key();
        if (key == KEY_ENTER) return value;
        const std::int32_t next = move(value, key);
        if (next == value) continue;
        trace.draw(w, v, value);
        trace.draw(w, v, next);
        value = next;
        w.set_text_position(1, 2);
        w.write_chars(label_text(value));
    }
}

void cutoff_dialog(Window& w, const ViewerState& v, SmoothSettings& st) {
    const std::int32_t step = cutoff_step(v);
    st.CUTHI = 20 * step;
    w.set_text_color(12);
    w.set_write_mode(WriteMode::Xor);
    CutoffTrace trace(v);
    w.set_text_position(1, 2);
    w.write_chars("Upper cutoff =" + fmt_int(st.CUTHI, 7) +
                  ", set with W,Z keys, terminate with ENTER");
    st.CUTHI = drag_cutoff(w, v, trace, st.CUTHI, "Upper cutoff =", [&](std::int32_t c, int key) {
        return move_upper_cutoff(c, key, step);
    });

    st.CUTLO = st.CUTHI - 20 * step;
    w.set_text_position(1, 2);
    w.write_chars("Lower cutoff =" + fmt_int(st.CUTLO, 7));
    st.CUTLO = drag_cutoff(w, v, trace, st.CUTLO, "Lower cutoff =", [&](std::int32_t c, int key) {
        return move_lower_cutoff(c, key, step, st.CUTHI);
    });
    w.set_write_mode(WriteMode::Copy);
}

void show_result(Window& w, ViewerState& v, const SmoothSettings& st) {
    auto& s = store();
    w.set_color(12);
    w.set_write_mode(WriteMode::Copy);
    draw_displayed(w, v, s.WORK);

    // A bracket as long as the smoothing interval, near the lower left corner.
    const double t = std::trunc((v.YHIGH - v.YLOW) / s.SCREEN.MAXY);
    const double per_point =
        v.ILAST > v.IFIRST
            ? (s.FREQ[std::size_t(v.ILAST)] - s.FREQ[std::size_t(v.IFIRST)]) / (v.ILAST - v.IFIRST)
            : 0;
    // Computed rather than read, so that a long interval near the end reads no
    // point beyond the spectrum.
    const double x1 = s.FREQ[std::size_t(v.IFIRST)] + 5 * per_point;
    const double x2 = x1 + st.NSMOOT * per_point;
    w.move_to(x1, v.YLOW + t);
    w.line_to(x1, v.YLOW + 9 * t);
    w.move_to(x1, v.YLOW + 5 * t);
    w.line_to(x2, v.YLOW + 5 * t);
    w.move_to(x2, v.YLOW + t);
    w.line_to(x2, v.YLOW + 9 * t);

    w.set_color(15);
    w.set_text_color(0);
    w.set_text_background(7);
    w.set_text_position(1, 1);
    w.write_chars(blanks(78));
    w.set_text_position(1, 1);
    w.write_chars(" Press ENTER to continue");
    wait_for_enter();
}

} // namespace

void shift_to_reference(double yref, double& ymean) {
    auto& s = store();
    ymean = lift_to_reference(s.INTENS, s.NPTS, yref);
}

void key_smooth(ViewerState&) {
    auto& w = window();
    prepare_screen(w);
    auto& st = smooth_settings();
    std::int32_t mode = 1;
    SMOOTH(mode, st.CUTLO, st.CUTHI, st.NSMOOT);
}

void key_baseline(ViewerState& v) {
    auto& w = window();
    auto& s = store();
    auto& st = smooth_settings();
    prepare_screen(w);
    st.CUTLO = 0;
    st.CUTHI = 0;
    std::int32_t mode = 2;
    SMOOTH(mode, st.CUTLO, st.CUTHI, st.NSMOOT);

    w.set_text_cursor(false);
    w.clear_window();
    set_viewer_coords(v);
    w.set_color(1);
    draw_displayed(w, v, s.ORIGNL);
    w.set_color(10);
    if (st.CUTLO == -1 && st.CUTHI == -1) {
        cutoff_dialog(w, v, st);
        mode = 3;
        SMOOTH(mode, st.CUTLO, st.CUTHI, st.NSMOOT);
    }
    show_result(w, v, st);
    shift_to_reference(v.YREF, v.YMEAN);
}

} // namespace korax

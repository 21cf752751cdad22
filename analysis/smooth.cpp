// SMOOTH: the smoothing and baseline-subtraction screens and passes over the store.
// The convolution lives in smooth_kernel.cpp; the viewer's N and B keys
// (viewer/baseline.cpp) call this with their run-long settings.
#include "analysis/smooth.h"

#include "base/format.h"
#include "driver/store.h"
#include "window/answer.h"
#include "window/window.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <string>
#include <vector>

namespace korax {

namespace {

// Set by every N or B prompt; read by the final fine-control call.
std::int32_t IFINE = 0;

constexpr int SMOOTHING_MODE = 1;
constexpr int BASELINE_MODE = 2;
constexpr int FINAL_BASELINE_MODE = 3;
constexpr int PASSES = 5;

void write_smoothing_screen(Window& w) {
    w.write_line(" ");
    w.write_line(heading("L E A S T   S Q U A R E S   S M O O T H I N G"));
    w.write_line("");
    w.write_line("");
    w.write_line("     This is standard cubic polynomial smoothing of Savitsky and Golay and");
    w.write_line("     it has been recommended not to use smoothing intervals longer");
    w.write_line("     than 0.7*FWHH");
    w.write_line("");
    w.write_line("     A. Savitzky, M.J.E. Golay, Anal. Chem. 36 (1964) 1627");
    w.write_line("     J. Steinier, Y. Termonia, J. Deltour, Anal. Chem. 44 (1972) 1906");
    w.write_line("");
}

void write_baseline_screen(Window& w) {
    w.write_line(" ");
    w.write_line(heading("B A S E L I N E   S U B T R A C T I O N"));
    w.write_line("");
    w.write_line("");
    w.write_line("     The baseline is defined by smoothing the spectrum with");
    w.write_line("     an interval which is much longer than the linewidth");
    w.write_line("       (-ve number of smoothing points allows the use of Y-axis");
    w.write_line("        cutoff to attenuate the effect of strong lines)");
    w.write_line("");
    w.write_line("     Smoothing weights: A. Savitzky, M.J.E. Golay, Anal. Chem. 36 (1964) 1627");
    w.write_line("");
}

SmoothingAnswer ask_points(Window& w, int mode) {
    for (;;) {
        w.write_line(" ");
        w.write_line("");
        w.write_line("     Specify the number of points for the smoothing interval ");
        if (mode == SMOOTHING_MODE) {
            w.write_line("     ( >3 and odd )");
        } else {
            w.write_line("     ( >3 and odd, -ve value for fine control with cutoff limits)");
            w.write_line("");
        }
        w.write_line(blanks(30) + "  .... ", LineEnd::Stay);
        if (auto answer = accept_smoothing_answer(mode, w.read_line())) return *answer;
    }
}

void write_window_block(Window& w, const char* spaced_word) {
    w.write_line(" ");
    w.write_line("");
    w.write_line(std::string("     ") + spaced_word);
    w.write_line("");
    w.write_line("");
}

// One pass from `source` into `target` over the spectrum in the store.
void pass(const std::vector<std::int32_t>& source, std::vector<std::int32_t>& target,
          std::span<const float> coef) {
    smooth_pass(source, target, store().NPTS, coef);
}

void copy_points(const std::vector<std::int32_t>& from, std::vector<std::int32_t>& to) {
    const auto n = std::size_t(store().NPTS);
    std::copy(from.begin() + 1, from.begin() + 1 + std::ptrdiff_t(n), to.begin() + 1);
}

// After the last pass INTENS holds the baseline: keep it in WORK and leave the
// original minus the baseline in INTENS.
void subtract_baseline_from_original() {
    auto& s = store();
    for (std::int32_t i = 1; i <= s.NPTS; ++i) {
        s.WORK[i] = s.INTENS[i];
        s.INTENS[i] = saturate_intensity(double(std::int64_t(s.ORIGNL[i]) - s.WORK[i]));
    }
}

} // namespace

std::optional<SmoothingAnswer> accept_smoothing_answer(int mode, std::string_view line) {
    const auto value = read_int<std::int32_t>(line, 5);
    if (!value) return std::nullopt;
    SmoothingAnswer a;
    a.fine = mode == BASELINE_MODE && *value < 0;
    a.nsmoot = a.fine ? -*value : *value;
    if (a.nsmoot <= 3 || a.nsmoot > 500 || a.nsmoot % 2 == 0) return std::nullopt;
    return a;
}

SmoothingWindow smoothing_window(int mode, bool fine, std::int32_t nsmoot) {
    SmoothingWindow win;
    if (mode == BASELINE_MODE && fine) {
        // The preliminary baseline uses about twice the typed interval.
        win.m = nsmoot;
        win.n = 2 * win.m + 1;
        if (win.n > 500) {
            win.n = 501;
            win.m = 250;
        }
    } else {
        win.n = nsmoot;
        win.m = nsmoot / 2;
    }
    return win;
}

void SMOOTH(std::int32_t& MODE, std::int32_t& CUTLO, std::int32_t& CUTHI, std::int32_t& NSMOOT) {
    auto& w = window();
    auto& s = store();
    assert(MODE >= SMOOTHING_MODE && MODE <= FINAL_BASELINE_MODE);

    if (MODE != FINAL_BASELINE_MODE) {
        if (MODE == SMOOTHING_MODE)
            write_smoothing_screen(w);
        else
            write_baseline_screen(w);
        const auto answer = ask_points(w, MODE);
        NSMOOT = answer.nsmoot;
        IFINE = answer.fine ? 1 : 0;
    }
    const bool fine = MODE == BASELINE_MODE && IFINE == 1;
    const auto win = smoothing_window(MODE, fine, NSMOOT);
    if (MODE == SMOOTHING_MODE) write_window_block(w, "S M O O T H I N G");
    if (MODE == BASELINE_MODE && !fine) write_window_block(w, "S U B T R A C T I N G");
    if (fine) {
        CUTLO = -1;
        CUTHI = -1;
    }

    std::array<float, 501> coef_table{};
    const std::span<const float> coef(coef_table.data(), std::size_t(win.n));
    smoothing_coefficients(win.m, coef_table);

    switch (MODE) {
    case SMOOTHING_MODE:
        copy_points(s.INTENS, s.WORK);
        pass(s.WORK, s.INTENS, coef);
        break;
    case BASELINE_MODE:
        if (fine) {
            copy_points(s.INTENS, s.WORK);
            for (int p = 1; p <= PASSES; ++p) {
                pass(s.WORK, s.BASLIN, coef);
                if (p < PASSES) copy_points(s.BASLIN, s.WORK);
            }
            break;
        }
        for (int p = 1; p <= PASSES; ++p) {
            w.write_line(blanks(20) + " Smooth  " + std::to_string(p));
            w.flush();
            copy_points(s.INTENS, s.WORK);
            pass(s.WORK, s.INTENS, coef);
        }
        subtract_baseline_from_original();
        break;
    case FINAL_BASELINE_MODE:
        for (int p = 1; p <= PASSES; ++p) {
            if (p == 1) {
                // Lines above the upper band edge enter the baseline only up to
                // it; points below the lower edge are raised to it.
                for (std::int32_t i = 1; i <= s.NPTS; ++i) {
                    const std::int64_t lo = std::int64_t(s.BASLIN[i]) + CUTLO;
                    const std::int64_t hi = std::int64_t(s.BASLIN[i]) + CUTHI;
                    const std::int64_t v = std::max(lo, std::min<std::int64_t>(s.INTENS[i], hi));
                    s.WORK[i] = saturate_intensity(double(v));
                }
            } else {
                copy_points(s.INTENS, s.WORK);
            }
            pass(s.WORK, s.INTENS, coef);
        }
        subtract_baseline_from_original();
        break;
    }
}

} // namespace korax

// SMOOTH: the smoothing and baseline-subtraction screens, and the passes over
// the store in the order each mode needs (smoothing_passes.cpp, the convolution
// in smooth_kernel.cpp). The viewer's N and B keys (viewer/baseline.cpp) call
// this with their run-long settings.
#include "analysis/smooth.h"

#include "analysis/smoothing_passes.h"

#include "base/format.h"
#include "spectrum/store.h"
#include "window/answer.h"
#include "window/window.h"

#include <cassert>
#include <string>

namespace korax {

namespace {

// Set by every N or B prompt; read by the final fine-control call.
std::int32_t IFINE = 0;

constexpr int SMOOTHING_MODE = 1;
constexpr int BASELINE_MODE = 2;
constexpr int FINAL_BASELINE_MODE = 3;

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

    const SmoothingFilter filter(win);
    const std::span<std::int32_t> intens(s.INTENS), work(s.WORK), baslin(s.BASLIN);
    const std::span<const std::int32_t> original(s.ORIGNL);

    switch (MODE) {
    case SMOOTHING_MODE:
        smooth_once(intens, work, s.NPTS, filter, ALL_CORES);
        break;
    case BASELINE_MODE:
        if (fine) {
            (void)preliminary_baseline(intens, work, baslin, s.NPTS, filter, ALL_CORES);
            break;
        }
        (void)baseline_passes(intens, work, s.NPTS, filter, ALL_CORES, [&w](int p) {
            w.write_line(blanks(20) + " Smooth  " + std::to_string(p));
            w.flush();
            return true;
        });
        subtract_baseline(original, intens, work, s.NPTS);
        break;
    case FINAL_BASELINE_MODE:
        (void)clipped_baseline(intens, work, baslin, s.NPTS, CUTLO, CUTHI, filter, ALL_CORES);
        subtract_baseline(original, intens, work, s.NPTS);
        break;
    }
}

} // namespace korax

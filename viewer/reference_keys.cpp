// The keys of the reference spectrum and the difference mode: < opens a
// reference through the readers' load into arrays of its own (nothing of it
// enters the store), > switches it off, PGUP/PGDN and the arrows scale and shift it,
// / fits its scale to the trace shown, ~ shows main - k x reference, : types
// k and ! takes the difference into the spectrum.
#include "viewer/reference.h"

#include "analysis/difference.h"
#include "base/format.h"
#include "spectrum/store.h"
#include "viewer/catalog_screens.h"
#include "viewer/display.h"
#include "viewer/file_prompt.h"
#include "window/answer.h"
#include "window/dialog.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace korax {

namespace {

std::string frequency_text(double f) {
    char text[40];
    std::snprintf(text, sizeof text, "%.12g", f);
    return text;
}

void message(ViewerState& v, const std::string& row1, const std::string& row2 = {}) {
    write_message_rows(window(), row1, row2, 1);
    window().set_text_color(15);
    v.STALE = true;
}

bool have_reference(ViewerState& v) {
    if (compare_session().reference) return true;
    message(v, " No reference spectrum is open: < opens one");
    return false;
}

// The keys that move the drawn reference: it is not drawn in the difference mode.
bool reference_drawn(ViewerState& v) {
    if (!have_reference(v)) return false;
    if (!compare_session().difference.on) return true;
    message(v, " The reference is not drawn while the difference is shown: ~ shows it again");
    return false;
}

// Where the reference lies against the spectrum in work, for the operator.
std::string coverage_text(const Spectrum& r) {
    const SpectrumStore& s = store();
    const double f1 = s.FREQ[1], fn = s.FREQ[static_cast<std::size_t>(s.NPTS)];
    const double r1 = r.freq[1], rn = r.freq[static_cast<std::size_t>(r.npts)];
    const std::string whole = frequency_text(f1) + " to " + frequency_text(fn);
    const double lo = std::max(f1, r1), hi = std::min(fn, rn);
    if (!(lo <= hi))
        return "     It lies outside this spectrum's range (" + whole + "): nothing of it shows";
    if (r1 <= f1 && rn >= fn) return "     It covers the whole range of this spectrum";
    return "     It covers " + frequency_text(lo) + " to " + frequency_text(hi) +
           " of this spectrum's " + whole;
}

const char* const NO_FIT = " The reference covers fewer than two of the points shown, or is flat "
                           "there: no scale fits";

// k of the difference fitted over the points shown.
std::optional<ScaleFit> fit_k_over_display(const ViewerState& v) {
    const ScaleFit fit = fit_reference(v.IFIRST, v.ILAST);
    if (!fit.ok) return std::nullopt;
    return fit;
}

// The difference mode on, with k fitted over the points shown unless it was
// typed; false (the mode stays off) when nothing fits.
bool difference_on(ViewerState& v) {
    DifferenceMode& d = compare_session().difference;
    d.on = true;
    if (d.typed) return true;
    const auto fit = fit_k_over_display(v);
    if (!fit) {
        compare_entry();
        message(v, NO_FIT, " : types k");
        return false;
    }
    d.k = fit->k;
    return true;
}

} // namespace

void key_reference_open(ViewerState& v) {
    Window& w = window();
    CompareSession& c = compare_session();
    for (;;) {
        open_dialog_screen(w, "R E F E R E N C E   S P E C T R U M");
        w.write_line(
            "     A second spectrum drawn over this one on a vertical scale of its own; it");
        w.write_line("     never enters the spectrum in work, its measurements or its saves");
        w.write_line("");
        if (c.reference) {
            w.write_line("     Shown now:  " + c.reference->spectrum.name);
            w.write_line("");
        }
        w.write_line("     Name of the reference spectrum, relative to the folder of the current");
        w.write_line("     spectrum (ENTER alone: the file-open box; Esc: exit)");
        w.write_line("");
        w.write_line("      Current spectrum:  " + store().FNAME);
        w.write_line("             Reference:  ", LineEnd::Stay);
        const TypedName typed = read_file_name(NamedFile::Reference);
        const std::string path =
            typed.chosen_in_box ? typed.text : beside_spectrum(typed_name(typed.text));
        ReferenceSpectrum loaded;
        const std::string why = load_spectrum(path, loaded.spectrum);
        w.write_line(" ");
        if (!why.empty()) {
            write_red_line(w, "     " + path + " " + why);
            press_enter(w, PressEnter::Below);
            continue;
        }
        const Spectrum& r = loaded.spectrum;
        w.write_line("     " + path + ":");
        std::string read = "     " + std::to_string(r.npts) + " points from " +
                           frequency_text(r.freq[1]) + " to " +
                           frequency_text(r.freq[static_cast<std::size_t>(r.npts)]) + ", step " +
                           frequency_text(r.fstep);
        if (r.linearised) read += ", axis linearised";
        w.write_line(read);
        w.write_line(coverage_text(r));
        press_enter(w, PressEnter::Below);
        const SpectrumStore& s = store();
        scale_to_extremes(loaded, s.IYMIN, s.IYMAX);
        index_reference_blocks(loaded);
        // A new reference ends a difference with the old one; a typed k stays.
        compare_entry();
        release_reference_grid();
        c.reference = std::move(loaded);
        ++c.reference_generation;
        // Onto the grid now, with the load: the keys of the difference and
        // the fits then find it there.
        (void)reference_on_grid();
        (void)fit_reference(1, 1);
        break;
    }
    w.set_text_cursor(false);
    screen_redraw(v);
}

bool key_reference_off(ViewerState& v) {
    if (!have_reference(v)) return false;
    CompareSession& c = compare_session();
    compare_entry();
    release_reference_grid();
    c.reference.reset();
    ++c.reference_generation;
    return true;
}

bool key_reference_scale(ViewerState& v, double factor) {
    if (!reference_drawn(v)) return false;
    ReferenceSpectrum& r = *compare_session().reference;
    const double gain = r.gain * factor, offset = v.YREF + factor * (r.offset - v.YREF);
    if (!(std::isfinite(gain) && std::isfinite(offset) && gain != 0)) return false;
    r.gain = gain;
    r.offset = offset;
    return true;
}

bool key_reference_shift(ViewerState& v, double fraction) {
    if (!reference_drawn(v)) return false;
    ReferenceSpectrum& r = *compare_session().reference;
    const double offset = r.offset + fraction * (v.YHIGH - v.YLOW);
    if (!std::isfinite(offset)) return false;
    r.offset = offset;
    return true;
}

bool key_reference_fit(ViewerState& v) {
    if (!have_reference(v)) return false;
    CompareSession& c = compare_session();
    if (c.difference.on) {
        const auto fit = fit_k_over_display(v);
        if (!fit) {
            message(v, NO_FIT);
            return false;
        }
        c.difference.k = fit->k;
        c.difference.typed = false;
        plot_redraw(v);
        message(v, " k = " + k_text(fit->k) + ", fitted over the " + std::to_string(fit->points) +
                       " points shown the reference covers");
        return true;
    }
    const ScaleFit fit = fit_reference(v.IFIRST, v.ILAST);
    if (!fit.ok) {
        message(v, NO_FIT);
        return false;
    }
    c.reference->gain = fit.k;
    c.reference->offset = fit.c;
    plot_redraw(v);
    message(v, " Reference fitted to the trace shown: x " + k_text(fit.k) +
                   (fit.c < 0 ? " - " : " + ") + k_text(std::abs(fit.c)) + ", over " +
                   std::to_string(fit.points) + " points");
    return true;
}

bool key_difference(ViewerState& v) {
    if (!have_reference(v)) return false;
    if (compare_session().difference.on) {
        compare_entry();
        return true;
    }
    return difference_on(v);
}

bool key_difference_k(ViewerState& v) {
    if (!have_reference(v)) return false;
    Window& w = window();
    DifferenceMode& d = compare_session().difference;
    std::optional<double> typed;
    for (;;) {
        write_message_rows(w,
                           " main - k x reference: ENTER alone fits k to the points shown (now " +
                               k_text(d.k) + ")",
                           " k = ", 0);
        w.set_text_position(2, 6);
        w.set_text_cursor(true);
        const std::string line = w.read_line();
        w.set_text_cursor(false);
        if (line.find_first_not_of(' ') == std::string::npos) break;
        typed = read_real(line);
        if (typed && std::isfinite(*typed)) break;
    }
    if (!typed) {
        d.typed = false;
        if (d.on) {
            const auto fit = fit_k_over_display(v);
            if (!fit) {
                message(v, NO_FIT);
                return false;
            }
            d.k = fit->k;
            return true;
        }
        return difference_on(v);
    }
    d.k = *typed;
    d.typed = true;
    d.on = true;
    return true;
}

bool key_difference_take(ViewerState& v) {
    if (!have_reference(v)) return false;
    if (!difference_shown()) {
        message(v, " The difference is not shown: ~ shows it, then ! takes it into the spectrum");
        return false;
    }
    SpectrumStore& s = store();
    const double k = compare_session().difference.k;
    const auto n = static_cast<std::size_t>(s.NPTS);
    const std::span<std::int32_t> intens(s.INTENS.data(), n + 1);
    const auto sum = static_cast<double>(
        subtract_reference(intens, reference_on_grid().first(n + 1), k, intens, 1, s.NPTS));
    // The flat continuation of a spectrum narrower than the window follows.
    const std::int32_t columns = std::min(s.SCREEN.MAXX + 1, MAXPTS);
    for (std::int32_t i = s.NPTS + 1; i <= columns; ++i)
        s.INTENS[static_cast<std::size_t>(i)] = s.INTENS[static_cast<std::size_t>(s.NPTS)];
    v.YMEAN = sum / s.NPTS;
    compare_entry();
    screen_redraw(v);
    message(v, " The spectrum is now main - " + k_text(k) + " x reference (U takes it back)");
    return true;
}

} // namespace korax

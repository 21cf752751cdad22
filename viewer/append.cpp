// The & key: a second PELMO spectrum from the same folder is resampled onto the
// grid of the one in work and joined to its high-frequency end; the operator
// then moves the appended part up or down until the two meet.
#include "viewer/commands.h"

#include "viewer/append.h"

#include "base/file_name.h"
#include "base/format.h"
#include "base/input_file.h"
#include "base/utf8.h"
#include "input/pelmo_format.h"
#include "spectrum/store.h"
#include "viewer/display.h"
#include "viewer/file_prompt.h"
#include "window/cancel.h"
#include "window/dialog.h"
#include "window/inkey.h"
#include "window/window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace korax {

std::optional<AppendedSpectrum> read_appended(std::FILE* file) {
    std::array<unsigned char, PELMO_HEADER_BYTES + PELMO_COUNT_BYTES> head{};
    if (std::fread(head.data(), 1, head.size(), file) != head.size()) return std::nullopt;
    const PelmoCount count = decode_pelmo_count(std::span<const unsigned char, PELMO_COUNT_BYTES>(
        head.data() + PELMO_HEADER_BYTES, PELMO_COUNT_BYTES));
    // Only -1 selects the long count form here.
    const std::int32_t n = count.word == -1 ? count.long_count : count.word;
    if (n < 10 || n > MAXPTS) return std::nullopt;
    SpectrumStore& s = store();
    const auto block = read_intensity_block(file, &s.ORIGNL[1], static_cast<std::size_t>(n));
    std::array<unsigned char, PELMO_AXIS_BYTES> axis{};
    if (block.points_read != static_cast<std::size_t>(n) ||
        std::fread(axis.data(), 1, axis.size(), file) != axis.size())
        return std::nullopt;
    AppendedSpectrum a;
    a.n = n;
    double sum = 0;
    for (std::int32_t i = 1; i <= n; ++i)
        sum += s.ORIGNL[static_cast<std::size_t>(i)];
    a.mean = sum / n;
    const PelmoAxis limits = decode_pelmo_axis(axis);
    a.fa = limits.fstart;
    a.sa = limits.fstep;
    a.ea = a.fa + static_cast<double>(n - 1) * a.sa;
    if (!(std::isfinite(a.fa) && std::isfinite(a.sa) && a.sa > 0 && std::isfinite(a.ea)))
        return std::nullopt;
    return a;
}

bool reaches_beyond_end(const AppendedSpectrum& a) {
    const SpectrumStore& s = store();
    if (s.NPTS < 1) return false;
    const double end = std::max(s.FEND, s.FREQ[static_cast<std::size_t>(s.NPTS)]);
    // Written so that a NaN anywhere refuses.
    return a.ea - end >= 2 * s.FSTEP;
}

std::optional<AppendJoin> append_join(const AppendedSpectrum& a, std::int32_t n0) {
    SpectrumStore& s = store();
    if (n0 < 1 || n0 > MAXPTS || a.n < 2 || a.n > MAXPTS) return std::nullopt;
    const std::int32_t* av = s.ORIGNL.data(); // a(b) is av[b]
    auto f = [&](std::int64_t k) { return a.fa + static_cast<double>(k) * a.sa; };
    AppendJoin r;
    double fnext = s.FREQ[static_cast<std::size_t>(n0)] + s.FSTEP;

    // Appended point k + 1 is the first used; it must leave a(k + 2) as the
    // upper bracket, so k stops at n - 2 even where the axes would skip more.
    std::int32_t k = 0;
    while (k < a.n - 2 && fnext - f(k) > a.sa)
        ++k;
    r.skipped = k;

    std::size_t j = static_cast<std::size_t>(n0) + 1;
    while (fnext < f(k)) {
        if (j > static_cast<std::size_t>(MAXPTS)) return std::nullopt;
        s.FREQ[j] = fnext;
        s.INTENS[j] = av[1];
        ++j;
        fnext = s.FREQ[j - 1] + s.FSTEP;
    }
    r.dummies = static_cast<std::int32_t>(j) - n0 - 1;
    r.first_resampled = static_cast<std::int32_t>(j);

    // The bracket is a(b) .. a(b + 1) with b in k + 1 .. n - 1.
    std::int32_t b = k + 1;
    double fb = f(k);
    while (j <= static_cast<std::size_t>(MAXPTS)) {
        s.FREQ[j] = fnext;
        // Only the first point can lie past the appended data (a second
        // spectrum narrower than one current step); it takes the last value
        // instead of one extrapolated far away. Within the data the line
        // through the bracket stands, even where the first point after a gap
        // lies more than one appended step above a(b): a ramp stays a ramp.
        if (fnext > a.ea) {
            s.INTENS[j] = av[a.n];
        } else {
            const double y = av[b] + (fnext - fb) * (av[b + 1] - av[b]) / a.sa;
            s.INTENS[j] = to_intensity(y);
        }
        ++j;
        fnext += s.FSTEP;
        if (!(fnext <= a.ea)) break;
        // Move the bracket as far as the next point needs, so that a coarse
        // current grid still interpolates between true neighbours; it never
        // passes the last interval of the appended data.
        while (fnext - fb > a.sa && b < a.n - 1) {
            ++b;
            fb = f(b - 1);
        }
    }
    r.truncated = j > static_cast<std::size_t>(MAXPTS);
    s.NPTS = r.truncated ? MAXPTS : static_cast<std::int32_t>(j) - 1;
    return r;
}

namespace {

void restore_from_intensities() {
    SpectrumStore& s = store();
    std::copy_n(&s.INTENS[1], s.NPTS, &s.ORIGNL[1]);
}

// A file that cannot be appended: the reason in light red, ENTER, and the
// name prompt again with the spectrum as it was.
void refusal(const std::string& line) {
    Window& w = window();
    w.write_line(" ");
    w.write_line("");
    write_red_line(w, line);
    press_enter(w, PressEnter::Below);
    restore_from_intensities();
}

// Where the appended part is drawn: dummies beyond 20 are hidden by drawing from
// `first` on, shifted left by `shift`, so the data start 10 steps after the junction.
struct AppendedView {
    std::int32_t ic = 0, first = 0, last = 0;
    double shift = 0;
};

// The appended part and its mean line, with offset d, in exclusive-or: drawing
// it twice with the same offset erases it.
void draw_appended(const AppendedView& view, const ViewerState& v, double mean, std::int32_t d) {
    const SpectrumStore& s = store();
    Window& w = window();
    std::vector<double> x;
    std::vector<std::int32_t> y;
    x.push_back(s.FREQ[static_cast<std::size_t>(view.ic)]);
    y.push_back(s.INTENS[static_cast<std::size_t>(view.ic)]);
    for (std::int32_t i = view.first; i <= view.last; ++i) {
        const auto at = static_cast<std::size_t>(i);
        x.push_back(s.FREQ[at] - view.shift);
        y.push_back(s.INTENS[at] + d);
    }
    w.set_write_mode(WriteMode::Xor);
    w.set_color(10);
    w.polyline(x, y, v.YLOW, v.YHIGH);
    w.set_color(12);
    w.move_to(s.FREQ[static_cast<std::size_t>(view.ic)], mean + d);
    w.line_to(x.back(), mean + d);
    w.set_color(10);
}

void adjust_offset(ViewerState& v, std::int32_t n0, std::int32_t dummies,
                   std::int32_t first_resampled, double mean) {
    SpectrumStore& s = store();
    Window& w = window();

    v.FCURS = s.FREQ[static_cast<std::size_t>(n0)];
    v.FLOW = v.FCURS - 200 * s.FSTEP;
    v.FHIGH = v.FCURS + 200 * s.FSTEP;
    // Fewer than 200 points on a side would put these outside the spectrum.
    const auto clamp_index = [&](double f) { return std::clamp(index_of_frequency(f), 1, s.NPTS); };
    const std::int32_t i1 = clamp_index(v.FLOW), i2 = clamp_index(v.FHIGH);
    const std::int32_t ic = clamp_index(v.FCURS);

    w.set_text_color(12);
    w.set_text_background(7);
    const std::string row_blanks = blanks(80);
    for (int row : {1, 2, int(s.SCREEN.NROWS) - 1, int(s.SCREEN.NROWS)}) {
        w.set_text_position(row, 1);
        w.write_chars(row_blanks);
    }
    w.set_text_position(1, 1);
    w.write_chars(" Adjust Y-position of appended spectrum with W,Z keys, terminate with ENTER");

    set_viewer_coords(v);
    w.set_write_mode(WriteMode::Copy);
    w.clear_plot_area();
    w.set_line_style(0xFFFF);
    w.set_color(12);
    w.move_to(s.FREQ[static_cast<std::size_t>(i1)], v.YMEAN);
    w.line_to(s.FREQ[static_cast<std::size_t>(ic)], v.YMEAN);
    w.set_color(1);
    const auto from = static_cast<std::size_t>(i1);
    const auto count = static_cast<std::size_t>(ic - i1 + 1);
    w.polyline(std::span<const double>(&s.FREQ[from], count),
               std::span<const std::int32_t>(&s.INTENS[from], count), v.YLOW, v.YHIGH);

    AppendedView view{ic, ic + 1, i2, 0.0};
    if (dummies > 20) {
        view.first = first_resampled - 10;
        view.shift =
            s.FREQ[static_cast<std::size_t>(view.first)] - s.FREQ[static_cast<std::size_t>(ic)];
        view.last = std::min(s.NPTS, i2 + (view.first - ic));
    }
    std::int32_t d = 0;
    draw_appended(view, v, mean, d);

    const double pixel = (v.YHIGH - v.YLOW) / s.SCREEN.MAXY;
    for (;;) {
        const std::int16_t key = adjustment_key();
        if (key == KEY_ENTER) break;
        double step = 0;
        int repeats = 0;
        switch (key) {
        case 'z':
            step = -pixel, repeats = 1;
            break;
        case 'Z':
            step = -pixel, repeats = 2;
            break;
        case 'w':
            step = pixel, repeats = 1;
            break;
        case 'W':
            step = pixel, repeats = 2;
            break;
        default:
            continue;
        }
        std::int32_t moved = static_cast<std::int32_t>(d + step);
        if (repeats == 2) moved = static_cast<std::int32_t>(moved + 9 * step);
        draw_appended(view, v, mean, d);
        d = moved;
        draw_appended(view, v, mean, d);
    }
    w.set_write_mode(WriteMode::Copy);

    for (std::int32_t i = n0 + 1; i <= s.NPTS; ++i) {
        s.INTENS[static_cast<std::size_t>(i)] += d;
        s.ORIGNL[static_cast<std::size_t>(i)] += d;
    }
}

} // namespace

void key_append(ViewerState& v) {
    SpectrumStore& s = store();
    Window& w = window();

    std::copy_n(&s.ORIGNL[1], s.NPTS, &s.INTENS[1]);
    v.YREF = v.YREF_ENTRY;

    for (;;) {
        open_dialog_screen(w, "A P P E N D   S P E C T R U M");
        w.write_line("");
        w.write_line(" ");
        w.write_line(
            "     Specify name of spectrum to be appended - do not type the path, which is");
        w.write_line("     implied by the current spectrum (or press ENTER to exit)");
        w.write_line("");
        const std::string shown = character_count(s.FNAME) < 50 ? pad(s.FNAME, 50) : s.FNAME;
        w.write_line("      Current spectrum:  " + shown);
        w.write_line("        To be appended:  ", LineEnd::Stay);
        const TypedName typed = read_file_name(NamedFile::Spectrum);
        w.set_text_cursor(false);
        const std::string name(trim_right(typed.text));
        if (name.find_first_not_of(' ') == std::string::npos) {
            screen_redraw(v);
            return;
        }

        // A name chosen in the box carries its own folder.
        const std::string path = typed.chosen_in_box ? name : directory_part(s.FNAME) + name;
        std::string why;
        const FilePtr file = open_input_file(path, &why);
        if (!file && why == NOT_REGULAR) {
            // Said, unlike a missing name: the prompt coming back would look
            // as if the name had been ignored.
            refusal("     " + name + ": " + NOT_REGULAR);
            continue;
        }
        const auto a = file ? read_appended(file.get()) : std::nullopt;
        if (!a) {
            restore_from_intensities();
            continue;
        }
        if (!reaches_beyond_end(*a)) {
            refusal("     SORRY - Prepending or merging of spectra is not possible");
            continue;
        }
        w.write_line(" ");
        w.write_line("");
        w.write_line(blanks(20) + "Npts" + blanks(10) + "Fstart" + blanks(10) + "Fend" + blanks(9) +
                     "Fstep");
        w.write_line("");
        const auto table_row = [&](const char* words, std::int32_t n, double f1, double f2,
                                   double step) {
            w.write_line(std::string("     ") + words + fmt_int(n, 8) + "  " +
                         fmt_fixed(f1, 14, 4) + fmt_fixed(f2, 14, 4) + fmt_fixed(step, 14, 6));
        };
        table_row(" Current:  ", s.NPTS, s.FREQ[1], s.FREQ[static_cast<std::size_t>(s.NPTS)],
                  s.FSTEP);
        table_row("Appended:  ", a->n, a->fa, a->ea, a->sa);

        const std::int32_t n0 = s.NPTS;
        const auto joined = append_join(*a, n0);
        if (!joined) {
            restore_from_intensities();
            continue;
        }
        if (joined->skipped > 0)
            w.write_line(fmt_int(joined->skipped, 8) +
                         " points from the appended spectrum have been skipped");
        if (joined->dummies > 0)
            w.write_line(fmt_int(joined->dummies, 8) +
                         " dummy points inserted between current and appended spectrum");
        if (joined->truncated)
            write_red_line(w, "     The maximum number of" + fmt_int(MAXPTS, 7) +
                                  " points has been reached");
        press_enter(w, PressEnter::Below);

        std::copy_n(&s.INTENS[1], s.NPTS, &s.ORIGNL[1]);
        s.FSTART = s.FREQ[1];
        s.FEND = s.FREQ[static_cast<std::size_t>(s.NPTS)];

        adjust_offset(v, n0, joined->dummies, joined->first_resampled, a->mean);
        set_field(s.SPHEAD.COMENT, " Merged spectrum");
        screen_redraw(v);
        return;
    }
}

} // namespace korax

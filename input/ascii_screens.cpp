// The screens of the ASCII load into the store: the report of a text that was
// read and the one of a text that was not, with the banner under it. The
// reading itself is ascii.cpp's, which draws nothing.
#include "input/ascii.h"

#include "base/format.h"
#include "base/input_file.h"
#include "input/speinf_screen.h"
#include "spectrum/store.h"
#include "window/sgame.h"
#include "window/window.h"

#include <string>

namespace korax {

namespace {

// The failure report. A counter of 0 (the comment or the file itself failed)
// leaves out the "Failed at point:" line.
bool fail(std::string_view message, std::int32_t counter) {
    Window& w = window();
    const SpectrumStore& s = store();
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.write_line("");
    w.write_line(blanks(10) + "File:  ", LineEnd::Stay);
    w.set_text_color(12);
    w.write_line(trim_right(s.FNAME));
    w.set_text_color(0);
    w.write_line("");
    w.write_line(blanks(10) + "Unsuccessful ASCII input:  " + std::string(trim_right(message)));
    if (counter > 0) {
        w.write_line(blanks(10) + "         Failed at point:  " + fmt_int(counter, 7));
        w.write_line("");
        w.write_line("");
    }
    SGAME();
    return false;
}

void report_success(float ymin, float ymax) {
    Window& w = window();
    SpectrumStore& s = store();
    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.write_line("  Successful ASCII input from: ", LineEnd::Stay);
    w.set_text_color(12);
    w.write_line(trim_right(s.FNAME));

    draw_comment_band();

    w.set_text_color(0);
    w.set_text_background(7);
    w.write_line("");
    std::string counts(" ");
    counts += fmt_int(s.NPTS, 7);
    counts += " points:  intensity from";
    counts += fmt_exp(static_cast<double>(ymin), 12, 4);
    counts += " to";
    counts += fmt_exp(static_cast<double>(ymax), 12, 4);
    w.write_line(counts);
    w.write_line("                  frequency from  " + fmt_fixed(s.FSTART, 10, 2) + " to  " +
                 fmt_fixed(s.FEND, 10, 2) + blanks(6));
    w.write_line("");
}

} // namespace

bool read_ascii_spectrum() {
    SpectrumStore& s = store();

    const int fd = open_input_descriptor(std::string(trim_right(s.FNAME)));
    if (fd < 0) return fail("The file could not be opened again", 0);
    const AsciiSpectrum a = decode_ascii_spectrum(fd, s.FREQ, s.INTENS, s.SPHEAD);
    s.NPTS = a.npts;
    if (a.axis_known) {
        s.FSTART = a.fstart;
        s.FEND = a.fend;
        s.FSTEP = a.fstep;
    }
    if (!a.failure.empty()) return fail(a.failure, a.counter);
    s.IYMIN = a.iymin;
    s.IYMAX = a.iymax;
    report_success(a.ymin, a.ymax);
    return true;
}

} // namespace korax

// SPEINF, the screen of recording parameters: drawn by the PELMO reader while it
// loads (without the frequency line) and by the viewer's information key.
#include "input/speinf.h"

#include "base/format.h"
#include "input/speinf_screen.h"
#include "spectrum/store.h"
#include "window/inkey.h"
#include "window/window.h"

#include <string>
#include <string_view>

namespace korax {

namespace {

// Every label ends with its colon in column 25 and two blanks, so the values
// start in column 28.
std::string label(std::string_view words) {
    return blanks(25 - words.size()) + std::string(words) + "  ";
}

std::string number(float value, int width, int decimals) {
    return fmt_fixed(static_cast<double>(value), width, decimals);
}

} // namespace

void draw_comment_band() {
    Window& w = window();
    w.set_text_color(15);
    w.set_text_background(1);
    const std::string band = blanks(76);
    w.set_text_position(3, 3);
    w.write_chars(band);
    w.set_text_position(4, 3);
    w.write_chars("  " + field_text(store().SPHEAD.COMENT) + "  ");
    w.set_text_position(5, 3);
    w.write_chars(band);
}

void show_spectral_information(std::int16_t rows, RangeLine range) {
    Window& w = window();
    const SpectrumStore& s = store();
    const SpectrumHeader& h = s.SPHEAD;

    w.set_text_color(0);
    w.set_text_background(7);
    w.write_line(blanks(60) + "___/\\_____/\\_/\\____");
    w.write_line(blanks(60) + "    |      |  |");

    draw_comment_band();
    w.set_text_color(0);
    w.set_text_background(7);

    w.write_line("");
    w.write_line("");
    w.write_line(label("Time and Date:") + fmt_int(h.IHOUR, 2) + ":" + fmt_int(h.IMINUT, 2) + ":" +
                 fmt_int(h.ISECND, 2) + ", " + fmt_int(h.IDAY, 2) + "/" + fmt_int(h.IMONTH, 2) +
                 "/" + fmt_int(h.IYEAR, 4));
    w.write_line("");
    w.write_line(label("Lamp:") + field_text(h.LAMP));
    w.write_line(label("Vkm limits /mV:") + number(h.VKMLO, 8, 2) + "-" + number(h.VKMHI, 8, 2));
    w.write_line(label("Grid /V:") + number(h.GRID, 6, 1));
    w.write_line("");
    w.write_line(label("Sample:") + field_text(h.SAMPLE));
    w.write_line(label("Sample pressure /mTorr:") + number(h.PRESS, 6, 1));

    if (rows == 17) {
        // A 17-row window cannot hold the whole screen: let the first half be read.
        w.write_line("");
        w.write_line(blanks(27) + "Press ENTER ");
        w.write_line(" ");
        wait_for_enter();
        w.write_line("");
    }

    // Gains below 0.099 are stored in volts; the comparison is made with the
    // stored single-precision value, so a stored 0.099 counts as below.
    const float gain = static_cast<double>(h.GAIN) < 0.099 ? h.GAIN * 1000.0f : h.GAIN;
    w.write_line("");
    w.write_line(label("Gain /mV:") + number(gain, 6, 1));
    w.write_line(label("Time constant /s:") + number(h.TCONST, 6, 3));
    w.write_line(label("Phase /deg:") + number(h.PHASE, 6, 1));
    w.write_line(label("N.delay, N.aver@point:") + " " + field_text(h.NDELAV));
    w.write_line(label("Points per second:") + number(h.PTSSEC, 7, 2));
    w.write_line("");
    w.write_line(label("Modulation freq. /kHz:") + number(h.FMOD, 8, 3));
    w.write_line(label("deviation /kHz:") + number(h.FDEV, 6, 1));
    w.write_line("");
    std::string count = std::string(" ") + fmt_int(s.NPTS, 7) + " points";
    if (range == RangeLine::Known)
        count += ", ranging from " + fmt_int(s.IYMIN, 10) + "  to" + fmt_int(s.IYMAX, 10);
    w.write_line(count);

    if (s.FSTART == s.FEND) return;
    w.write_line(blanks(15) + "frequency from" + fmt_fixed(s.FSTART, 11, 2) + "  to" +
                 fmt_fixed(s.FEND, 10, 2) + ", step size" + fmt_fixed(s.FSTEP, 8, 5));
    w.write_line("");
    w.write_line(blanks(27) + "Press ENTER to continue", LineEnd::Stay);
}

void SPEINF(std::int16_t& rows) {
    show_spectral_information(rows, RangeLine::Known);
}

} // namespace korax

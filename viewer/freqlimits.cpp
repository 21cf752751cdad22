// The F key's screen: the limits of the data, the display and the cursor, and
// two prompts for new display limits. Negative answers are commands: a lower
// limit -f centres the display on f, an upper limit -r sets the width to r.
#include "viewer/freqlimits.h"

#include "base/format.h"
#include "spectrum/store.h"
#include "window/answer.h"
#include "window/window.h"

#include <cmath>
#include <string>

namespace korax {

LimitStep apply_lower_limit(FrequencyWindow& d, double v, double f1, double fn) {
    if (v < 0) {
        double h = (d.FHIGH - d.FLOW) / 2;
        double m = std::abs(v);
        if (m > fn) m = fn - h;
        if (m < f1) m = f1 + h;
        // The centre is kept in single precision, as typed values are.
        m = static_cast<double>(static_cast<float>(m));
        d.FLOW = m - h;
        d.FHIGH = m + h;
        d.FCURS = m;
        return LimitStep::Done;
    }
    if (v > fn) return LimitStep::Repeat;
    // 0 (an empty answer) keeps the limit; one below the spectrum is let
    // through for the redraw to raise to the first point.
    if (v != 0) d.FLOW = v;
    return LimitStep::Next;
}

LimitStep apply_upper_limit(FrequencyWindow& d, double v, double f1) {
    if (v < 0) {
        double half = std::abs(v) / 2;
        d.FLOW = d.FCURS - half;
        d.FHIGH = d.FCURS + half;
        return LimitStep::Done;
    }
    if (v == 0) {
        if (d.FHIGH <= d.FLOW) return LimitStep::Repeat;
    } else {
        if (v <= d.FLOW || v < f1) return LimitStep::Repeat;
        d.FHIGH = v;
    }
    d.FCURS = (d.FLOW + d.FHIGH) / 2;
    return LimitStep::Done;
}

namespace {

// Asks one prompt until an answer is readable and acceptable.
template <class Rule>
void ask_limit(std::string_view label, const double& shown, Rule&& rule, LimitStep& step) {
    auto& w = window();
    do {
        w.write_line(" " + std::string(label) + fmt_fixed(shown, 12, 3) + " -->  ", LineEnd::Stay);
        auto answer = read_real32(w.read_line(), 20);
        step = answer ? rule(static_cast<double>(*answer)) : LimitStep::Repeat;
    } while (step == LimitStep::Repeat);
}

} // namespace

void frequency_limits_screen(ViewerState& v) {
    const auto& s = store();
    auto& w = window();
    double f1 = s.FREQ[1], fn = s.FREQ[static_cast<std::size_t>(s.NPTS)];

    w.set_text_color(0);
    w.set_text_background(7);
    w.clear_window();
    w.write_line("");
    w.write_line(heading("F R E Q U E N C Y   L I M I T S"));
    w.write_line("");
    w.write_line(blanks(37) + "lower" + blanks(7) + "upper" + blanks(11) + "range");
    w.write_line("");
    w.write_line("  Frequency limits of data:       " + fmt_fixed(f1, 12, 3) +
                 fmt_fixed(fn, 12, 3) + fmt_fixed(fn - f1, 16, 3));
    w.write_line("  Frequency limits of display:    " + fmt_fixed(v.FLOW, 12, 3) +
                 fmt_fixed(v.FHIGH, 12, 3) + fmt_fixed(v.FHIGH - v.FLOW, 16, 3));
    w.write_line("  Frequency of cursor:            " + blanks(6) + fmt_fixed(v.FCURS, 12, 3));
    w.write_line("");
    w.write_line("");
    w.write_line("  Specify new display limits  1/ ENTER keeps previous value");
    w.write_line(blanks(30) + "2/ -ve lower limit moves cursor");
    w.write_line(blanks(30) + "3/ -ve upper limit changes range");
    w.write_line("");

    // The operator types here, so the text cursor shows where; the viewer's
    // redraw hides it again.
    w.set_text_cursor(true);
    FrequencyWindow d{v.FLOW, v.FHIGH, v.FCURS};
    LimitStep step = LimitStep::Repeat;
    ask_limit(
        " Lower frequency display limit:  ", d.FLOW,
        [&](double x) { return apply_lower_limit(d, x, f1, fn); }, step);
    if (step == LimitStep::Next) {
        ask_limit(
            " Upper frequency display limit:  ", d.FHIGH,
            [&](double x) { return apply_upper_limit(d, x, f1); }, step);
    }
    v.FLOW = d.FLOW;
    v.FHIGH = d.FHIGH;
    v.FCURS = d.FCURS;
    w.set_text_background(7);
}

} // namespace korax

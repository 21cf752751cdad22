// The viewer's command summary. In a 17-row window it does not fit on one
// screen, so the first page waits for ENTER before the second scrolls it away.
#include "base/format.h"
#include "viewer/commands.h"
#include "window/inkey.h"
#include "window/window.h"

#include <string>

namespace korax {

void HELP(std::int16_t& rows) {
    auto& w = window();
    const std::string indent = blanks(9);
    w.write_line("");
    w.write_line(heading("A V A I L A B L E   O P T I O N S"));
    w.write_line("");
    w.write_line(indent + "A,S - shift screen window over the spectrum");
    w.write_line(indent + "Q,E - zoom out/in in frequency");
    w.write_line(indent + "W,Z - increase, decrease vertical scale");
    w.write_line(indent + "2,3 - shift spectrum up/down");
    w.write_line(indent + "K,L - move cursor over the spectrum");
    w.write_line("");
    w.write_line(indent + "      All of the above are fast/slow for " + "upper/lower case");
    w.write_line("");
    w.write_line(indent + "  , - center/quarter cursor");
    w.write_line(" <HOME><END> - move to beginning/end of spectrum");
    w.write_line(indent + "-/P - invert Y-axis / show spectral data points");
    w.write_line(indent + "F/^ - manual frequency limits / toggle window height");
    w.write_line("");

    if (rows == 17) {
        w.write_line(blanks(15) + "Press ENTER ", LineEnd::Stay);
        wait_for_enter();
        w.write_line("");
        w.write_line("");
    }

    w.write_line(indent + "  B - baseline subtraction");
    w.write_line(indent + "  N - smoothing");
    w.write_line(indent + "M/I - save current spectrum / display spectral information");
    w.write_line(indent + "R/& - restore original spectrum / append spectrum");
    w.write_line(indent + "  G - gle output");
    w.write_line("");
    w.write_line(indent + "  O - peak frequency of line under the cursor");
    w.write_line(indent + "  0 - set fitting width, -ve value runs PEAKFINDER");
    w.write_line(indent + "  9 - use cursor position for peak frequency/baseline level");
    w.write_line(indent + "  = - average of last two measured frequencies");
    w.write_line("");
    w.write_line(blanks(7) + "ENTER - exits this help screen / exits KORAX", LineEnd::Stay);
}

} // namespace korax

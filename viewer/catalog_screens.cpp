// The rows and screens of the catalogue and assignment keys, and the note of
// the last measurement, which the O, 9 and = keys leave for T.
#include "viewer/catalog_screens.h"

#include "base/file_name.h"
#include "base/format.h"
#include "spectrum/store.h"
#include "window/dialog.h"
#include "window/window.h"

#include <algorithm>
#include <cmath>

namespace korax {

MeasureNote& measure_note() {
    static MeasureNote n;
    return n;
}

namespace {} // namespace

std::optional<Measured> measurement_to_assign(std::optional<double> cursor) {
    const MeasureNote& n = measure_note();
    const MeasurementMemory& m = measurement_memory();
    if (n.key == 0) return std::nullopt;
    if (n.key == '=') {
        if (m.FLAST == 0 && m.FPREV == 0) return std::nullopt;
        const float e = static_cast<float>(
            std::sqrt(m.honest_prev * m.honest_prev + m.honest_last * m.honest_last));
        Measured average{(m.FLAST + m.FPREV) / 2, e, {}, m.doubt_last, {}};
        if (average.refusal.empty()) average.refusal = m.doubt_prev;
        return average;
    }
    // The key left the memory as it was: it refused to measure.
    if (m.count == n.before.count) return std::nullopt;
    const LastMeasurement& last = last_measurement();
    if (n.key == 'X' && last.valid && last.key == 'X' && !last.lines.empty()) {
        const double at = cursor.value_or(m.FLAST);
        const auto nearest =
            std::min_element(last.lines.begin(), last.lines.end(),
                             [&](const MeasuredLine& a, const MeasuredLine& b) {
                                 return std::abs(a.freq - at) < std::abs(b.freq - at);
                             });
        return Measured{nearest->freq, nearest->error, last.lines, {}, nearest->flags};
    }
    return Measured{m.FLAST, m.honest_last, {}, m.doubt_last, {}};
}

void catalog_message(ViewerState& v, const std::string& row1, const std::string& row2, int color) {
    auto& w = window();
    write_message_rows(w, row1, row2, color);
    w.set_text_color(15);
    v.STALE = true;
}

std::string typed_name(std::string_view text) {
    text = trim_right(text);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    std::string name(text);
    // Either slash separates folders, as in every other file name of the program.
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::string beside_spectrum(const std::string& name) {
    if (!name.empty() && name.front() == '/') return name;
    return directory_part(store().FNAME) + name;
}

} // namespace korax

// What the catalogue keys and the assignment keys share: the measurement that
// waits to be assigned, the status-row messages and dialog screens they show,
// and how a typed name becomes a path beside the spectrum.
#pragma once

#include "viewer/measure.h"
#include "viewer/viewer_state.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korax {

// What the last measuring key left to be assigned.
struct MeasureNote {
    std::int16_t key = 0;           // 'O', 'X', '=' or '9'; 0: nothing measured yet
    MeasurementMemory before;       // the memory as the key found it
    bool identify_measured = false; // the next plot redraw identifies the measurement
    std::string notice;             // shown once on the identification row (light red)
};
MeasureNote& measure_note();

struct Measured {
    double freq = 0, error = 0;
    // A profile fit's lines by frequency (the assigned one among them); empty
    // for the other measurements.
    std::vector<MeasuredLine> components;
    // Why T must not assign it (an O without a half-height width, or whose
    // centre left its fitting interval); empty when it may.
    std::string refusal;
    // The profile fit's flags of the line, e.g. "saturated edge"; T asks
    // before it assigns a flagged line. Empty: none.
    std::string flags;
};

// The measurement that T assigns, from the most recent measuring key: the last
// profile fit (X), the last O with its error made honest, the cursor (9), or
// the average after "=". Of a profile fit's lines, the one nearest to `cursor`
// when given, else the one nearest to the cursor at the fit. nullopt before any
// measurement and after one that failed.
std::optional<Measured> measurement_to_assign(std::optional<double> cursor = std::nullopt);

// A message on the two status rows, as those of O are shown.
void catalog_message(ViewerState& v, const std::string& row1, const std::string& row2 = {},
                     int color = 1);

// A typed name without its surrounding blanks, "\" read as "/".
std::string typed_name(std::string_view text);
// A typed name is taken relative to the spectrum's folder unless it starts at the root.
std::string beside_spectrum(const std::string& name);

} // namespace korax

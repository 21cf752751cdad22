// GLEOUT, the dialog of strip plots as GLE scripts: its menu, the run-long
// settings and the reading of its answers. The strips are gle_strips.h's, the
// data file gle_data.h's, the scripts output/wrigle.h's.
#pragma once

#include "output/gle_data.h"
#include "output/gle_strips.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace korax {

void GLEOUT(double& start, double& end, double& ylow, double& yhigh);

GleSettings& GLESET();

// The menu choice and the two Y-limit fields as typed answers are read.
std::optional<std::int32_t> read_menu_choice(std::string_view line);
struct YLimits {
    std::int32_t lower = 0, upper = 0;
};
std::optional<YLimits> read_y_limits(std::string_view line);

} // namespace korax

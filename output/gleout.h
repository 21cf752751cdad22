// Strip plots as GLE scripts: the dialog, the script writer and the label lines.
#pragma once

namespace korax {

void GLEOUT(double& start, double& end, double& ylow, double& yhigh);

} // namespace korax

// Saving the spectrum in work as a PELMO binary file.
#pragma once

namespace korax {

void SAVESP();

} // namespace korax

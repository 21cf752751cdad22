// The viewer's window height toggle.
#pragma once

namespace korax {

// Toggles the window between 30 and 17 text rows, keeping the row height, and
// records the new geometry in store().SCREEN.
void NARGR();

} // namespace korax

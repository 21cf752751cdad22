// The title screen of start-up.
#pragma once

namespace korax {

// The drawn title screen of start-up; ends with the banner and text position row 10.
void draw_title_screen();

} // namespace korax

// NARGR: the ^ key's toggle between the window's two heights.
#include "viewer/nargr.h"

#include "spectrum/store.h"
#include "window/window.h"

namespace korax {

void NARGR() {
    Window& w = window();
    const WindowSize size = toggled_size(store().SCREEN);
    w.set_geometry(size.width, size.height, size.rows);
    store().SCREEN = screen_geometry(w.width(), w.height(), w.rows());
}

} // namespace korax

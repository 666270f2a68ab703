// Placeholder until the window lands.
#include "display/dock_window.hpp"

#include <xcb/xcb.h>

namespace glyphrain {

void DockWindow::ConnectionDeleter::operator()(xcb_connection_t* c) const noexcept {
    xcb_disconnect(c);
}

} // namespace glyphrain

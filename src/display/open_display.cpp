// SPDX-License-Identifier: MIT
// The display system chosen at start-up.
#include "display/open_display.hpp"

#include "display/x11/dock_window.hpp"

namespace glyphrain {

std::unique_ptr<Display> open_display(std::uint16_t size, std::optional<std::uint32_t> slit,
                                      std::span<const std::string> command) {
    return std::make_unique<DockWindow>(size, slit, command);
}

} // namespace glyphrain

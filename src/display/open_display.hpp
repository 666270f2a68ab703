// SPDX-License-Identifier: MIT
// The choice of display system at start-up: the one place that knows the implementations.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "display/display.hpp"

namespace glyphrain {

/// Where a layer-shell surface sits on a Wayland output; X11 ignores it.
struct Placement {
    enum class Corner { top_left, top_right, bottom_left, bottom_right };
    enum class Layer { background, bottom, top, overlay };
    Corner corner = Corner::top_right;
    std::uint32_t margin = 0; // pixels from both edges of the corner
    Layer layer = Layer::top;
    std::optional<std::string> output; // by name; none: the compositor's choice
};

/// The display for a size x size picture: an X11 dock window on $DISPLAY (slit names a Vireo
/// slit, command becomes WM_COMMAND). Throws as the implementation's set-up does.
std::unique_ptr<Display> open_display(std::uint16_t size, std::optional<std::uint32_t> slit,
                                      std::span<const std::string> command);

} // namespace glyphrain

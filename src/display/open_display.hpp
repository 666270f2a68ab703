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

/// A display opened at start-up, and the one line to print when it is not the one the
/// environment pointed to first (the caller prints it unless quiet).
struct OpenedDisplay {
    std::unique_ptr<Display> display;
    std::optional<std::string> note;
};

/// The display for a size x size picture. GLYPHRAIN_BACKEND=x11 or =wayland forces one display
/// system; otherwise a set WAYLAND_DISPLAY asks for a layer surface placed by placement, and X11
/// serves (with a note) when that compositor offers no layer shell or cannot be reached while
/// DISPLAY is set. X11 is an X11 dock window on $DISPLAY (slit names a Vireo slit, command
/// becomes WM_COMMAND). Throws AppError for a layer shell that is required but missing or an
/// unknown GLYPHRAIN_BACKEND, else as the implementation's set-up does.
OpenedDisplay open_display(std::uint16_t size, std::optional<std::uint32_t> slit,
                           std::span<const std::string> command, const Placement& placement);

} // namespace glyphrain

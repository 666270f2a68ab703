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

/// The display for a size x size picture: an X11 dock window on $DISPLAY (slit names a Vireo
/// slit, command becomes WM_COMMAND). Throws as the implementation's set-up does.
std::unique_ptr<Display> open_display(std::uint16_t size, std::optional<std::uint32_t> slit,
                                      std::span<const std::string> command);

} // namespace glyphrain

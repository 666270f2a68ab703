// SPDX-License-Identifier: MIT
// Run mode: the start-up sequence up to and through the main loop.
#pragma once

#include "app/command_line.hpp"
#include "config/settings.hpp"
#include "display/open_display.hpp"

namespace glyphrain {

/// Runs the dock app until the window is closed; returns the exit status. Fatal errors are
/// thrown to the entry.
int run_animation(const ArgList& args);

/// Where the settings ask a Wayland layer surface to sit: corner, margin, layer and output.
Placement placement_of(const Settings& settings);

} // namespace glyphrain

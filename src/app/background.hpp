// SPDX-License-Identifier: MIT
// Run mode's process-level state: detaching for --background, and the SIGHUP reload and SIGCHLD
// flags that the signal handlers raise and the loop takes.
#pragma once

#include "config/settings.hpp"

namespace glyphrain {

/// Forks: the parent prints "glyphRain: backgrounded (pid N)" unless quiet and exits 0; the
/// child starts a new session and returns. A failed fork prints "glyphRain: fork failed" and
/// exits 1.
void detach_to_background(const Settings& settings);

/// Installs the SIGHUP handler, which only raises the reload request flag.
void install_reload_handler() noexcept;

/// Takes the reload request flag and clears it in one atomic exchange.
bool take_reload_request() noexcept;

/// Installs the SIGCHLD handler, which only raises the child-ended flag, so that the loop reaps
/// finished click commands when one ends rather than looking for them every frame.
void install_child_handler() noexcept;

/// Takes the child-ended flag and clears it in one atomic exchange.
bool take_child_ended() noexcept;

} // namespace glyphrain

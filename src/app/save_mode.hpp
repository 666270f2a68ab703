// SPDX-License-Identifier: MIT
// Save mode: --write-config and --configure.
#pragma once

#include "app/command_line.hpp"

namespace glyphrain {

/// Derives the settings, optionally runs the wizard, chooses the target and saves it.
/// Returns the exit status; write failures are thrown to the entry.
int run_save_mode(const ArgList& args);

} // namespace glyphrain

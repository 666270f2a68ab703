// SPDX-License-Identifier: MIT
// Configuration reloads at run time, asked for by SIGHUP or a middle click.
#pragma once

#include "config/config_path.hpp"
#include "config/settings.hpp"

namespace glyphrain {

enum class ReloadCause { middle_click, sighup };

/// Writes the configuration file first when it is missing, then replaces settings whole with a
/// fresh derivation from the file and the kept arguments, and reports it unless the new settings
/// are quiet.
void reload_settings(Settings& settings, const ArgList& args, ReloadCause cause);

} // namespace glyphrain

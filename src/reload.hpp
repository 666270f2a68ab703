// Run-time reactions to the user: configuration reloads and mouse buttons.
#pragma once

#include <cstdint>

#include "config/config_path.hpp"
#include "config/settings.hpp"

namespace glyphrain {

enum class ReloadCause { middle_click, sighup };

/// Writes the configuration file first when it is missing, then replaces settings whole with a
/// fresh derivation from the file and the kept arguments, and reports it unless the new settings
/// are quiet.
void reload_settings(Settings& settings, const ArgList& args, ReloadCause cause);

/// Button 1 and 3 run their click commands; button 2 runs middle_click or, when it is unset,
/// reloads. Other buttons do nothing.
void handle_button(std::uint8_t button, Settings& settings, const ArgList& args);

} // namespace glyphrain

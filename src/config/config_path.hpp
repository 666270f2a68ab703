// SPDX-License-Identifier: MIT
// Where the configuration file lives.
#pragma once

#include <optional>
#include <string>

namespace glyphrain {

/// The path the user named (with --config) when it is there and non-empty, else
/// $XDG_CONFIG_HOME/glyphRain/config, else $HOME/.config/glyphRain/config, else nothing.
/// Reads the environment afresh at every call.
std::optional<std::string> config_path(const std::optional<std::string>& named);

} // namespace glyphrain

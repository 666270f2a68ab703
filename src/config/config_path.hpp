// SPDX-License-Identifier: MIT
// Where the configuration file lives.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace glyphrain {

/// The process arguments as text, element 0 being the program name; kept for the whole run.
using ArgList = std::vector<std::string>;

/// The path after the first "--config" when it is there and non-empty, else
/// $XDG_CONFIG_HOME/glyphRain/config, else $HOME/.config/glyphRain/config, else nothing.
/// Reads the environment afresh at every call.
std::optional<std::string> config_path(const ArgList& args);

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Locating the configuration file from the arguments and the XDG environment.
#include "config/config_path.hpp"

#include <cstdlib>

#include "system/path.hpp"
#include "system/text.hpp"

namespace glyphrain {

std::optional<std::string> config_path(const ArgList& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--config") continue;
        if (i + 1 < args.size() && !args[i + 1].empty()) return args[i + 1];
        break; // only the first "--config" is looked at
    }
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg && is_valid_utf8(xdg)) return join_path(xdg, "glyphRain/config");
    const char* home = std::getenv("HOME");
    if (home && is_valid_utf8(home))
        return join_path(join_path(home, ".config"), "glyphRain/config");
    return std::nullopt;
}

} // namespace glyphrain

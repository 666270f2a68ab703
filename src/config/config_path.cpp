// SPDX-License-Identifier: MIT
// Locating the configuration file from the path the user named and the XDG environment.
#include "config/config_path.hpp"

#include <cstdlib>

#include "system/path.hpp"
#include "system/text.hpp"

namespace glyphrain {

std::optional<std::string> config_path(const std::optional<std::string>& named) {
    if (named && !named->empty()) return named;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg && is_valid_utf8(xdg)) return join_path(xdg, "glyphRain/config");
    const char* home = std::getenv("HOME");
    if (home && is_valid_utf8(home))
        return join_path(join_path(home, ".config"), "glyphRain/config");
    return std::nullopt;
}

} // namespace glyphrain

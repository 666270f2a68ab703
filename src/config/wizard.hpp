// SPDX-License-Identifier: MIT
// The interactive configuration dialogue of --configure.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "config/settings.hpp"

namespace glyphrain {

/// Asks the ten questions in order and returns the edited settings; theme, verbose and quiet
/// pass through. Unusable answers keep the current value. font_suggestion, the file automatic
/// discovery would pick, is shown in the font question when no font is set; it is never stored.
Settings run_wizard(Settings settings, const std::optional<std::string>& font_suggestion);
Settings run_wizard(Settings settings, const std::optional<std::string>& font_suggestion,
                    std::istream& in);

} // namespace glyphrain

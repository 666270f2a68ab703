// SPDX-License-Identifier: MIT
// The interactive configuration dialogue of --configure and its font suggestion.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "config/settings.hpp"

namespace glyphrain {

/// The font file fontconfig picks for Japanese monospace text, else for any monospace text;
/// nothing when fc-match is missing, fails or answers with white space only.
std::optional<std::string> suggest_font();

/// Asks the ten questions in order and returns the edited settings; theme, verbose and quiet
/// pass through. Unusable answers keep the current value.
Settings run_wizard(Settings settings);
Settings run_wizard(Settings settings, std::istream& in);

} // namespace glyphrain

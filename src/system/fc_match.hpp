// SPDX-License-Identifier: MIT
// Asking fontconfig which font file it picks for a pattern.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace glyphrain {

/// The file `fc-match --format %{file} pattern` prints, decoded (invalid UTF-8 replaced) and
/// without surrounding white space; nothing when fc-match is missing, fails or prints only white
/// space.
std::optional<std::string> fc_match_file(std::string_view pattern);

} // namespace glyphrain

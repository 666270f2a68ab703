// SPDX-License-Identifier: MIT
// One fc-match run per pattern, its answer read as a path.
#include "system/fc_match.hpp"

#include "system/process.hpp"
#include "system/text.hpp"

namespace glyphrain {

std::optional<std::string> fc_match_file(std::string_view pattern) {
    std::optional<std::string> out =
        run_and_capture({"fc-match", "--format", "%{file}", std::string(pattern)});
    if (!out) return std::nullopt;
    std::string path(trim_white_space(decode_utf8_lossy(*out)));
    if (path.empty()) return std::nullopt;
    return path;
}

} // namespace glyphrain

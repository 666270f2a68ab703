// SPDX-License-Identifier: MIT
// UTF-8 checks, lossy decoding and Unicode white-space trimming.
#pragma once

#include <string>
#include <string_view>

namespace glyphrain {

bool is_valid_utf8(std::string_view text) noexcept;

/// text with every invalid UTF-8 sequence replaced by U+FFFD (one per maximal invalid subpart).
std::string decode_utf8_lossy(std::string_view text);

/// text without leading and trailing Unicode White_Space characters. Bytes that do not form
/// valid UTF-8 are never taken for white space.
std::string_view trim_white_space(std::string_view text) noexcept;

} // namespace glyphrain

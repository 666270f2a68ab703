// The interactive configuration dialogue of --configure and the line prompt it shares with the
// overwrite question.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.hpp"

namespace glyphrain {

/// Longer answers are treated like a read error; no terminal line comes close.
inline constexpr std::size_t k_max_answer_bytes = 64 * 1024;

/// Prints prompt on standard error without a line break, reads one line from standard input (or
/// in) and returns it without surrounding white space. End of input, a read error, a line that is
/// not valid UTF-8 and an over-long line all give an empty answer; end of input stays ended.
std::string prompt_line(std::string_view prompt);
std::string prompt_line(std::string_view prompt, std::istream& in);

/// The font file fontconfig picks for Japanese monospace text, else for any monospace text;
/// nothing when fc-match is missing, fails or answers with white space only.
std::optional<std::string> suggest_font();

/// Asks the ten questions in order and returns the edited settings; theme, verbose and quiet
/// pass through. Unusable answers keep the current value.
Settings run_wizard(Settings settings);
Settings run_wizard(Settings settings, std::istream& in);

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Questions on the terminal: one line read as the answer, and what counts as a yes.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace glyphrain {

/// Longer answers are treated like a read error; no terminal line comes close.
inline constexpr std::size_t k_max_answer_bytes = 64 * 1024;

/// Prints prompt on standard error without a line break, reads one line from standard input (or
/// in) and returns it without surrounding white space. End of input, a read error, a line that is
/// not valid UTF-8 and an over-long line all give an empty answer; end of input stays ended.
std::string prompt_line(std::string_view prompt);
std::string prompt_line(std::string_view prompt, std::istream& in);

/// True for exactly "y", "Y", "yes" or "YES".
bool ask_yes(std::string_view answer) noexcept;

} // namespace glyphrain

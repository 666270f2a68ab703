// SPDX-License-Identifier: MIT
// Best-effort lines on standard error: a message that cannot be formatted or written is dropped,
// and the program goes on as if it had been shown.
#pragma once

#include <iterator>
#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace glyphrain {

/// Writes text to standard error, continuing after partial writes and retrying only EINTR; any
/// other failure (a closed terminal's EIO, EPIPE, a full disk) drops the rest silently. errno is
/// left as it was.
void write_stderr(std::string_view text) noexcept;

/// Formats into a local buffer and writes the result with write_stderr; never throws, also when
/// formatting runs out of memory.
template <typename... Args>
void print_stderr(fmt::format_string<Args...> format, Args&&... args) noexcept {
    try {
        fmt::memory_buffer buffer;
        fmt::format_to(std::back_inserter(buffer), format, std::forward<Args>(args)...);
        write_stderr({buffer.data(), buffer.size()});
    } catch (...) {
        // A message that cannot be built is not worth ending the program for.
    }
}

} // namespace glyphrain

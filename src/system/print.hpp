// SPDX-License-Identifier: MIT
// Best-effort lines on standard error: a message that cannot be formatted or written is dropped,
// and the program goes on as if it had been shown.
#pragma once

#include <csignal>
#include <iterator>
#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace glyphrain {

/// Interrupts a write to standard error that would wait; write_stderr gives it a handler of its own
/// and lets it in for that one write only.
inline constexpr int k_write_timer_signal = SIGALRM;

/// Writes text to standard error without ever waiting: text that a pipe, terminal or socket
/// cannot take at once (a reader that stopped reading) is dropped, whole for a line of up to
/// PIPE_BUF bytes to a pipe, or a longer one the pipe has no room for. Files are written in full.
/// A terminal that cannot be reopened without blocking (another user's) is written under a timer
/// of a few milliseconds instead, and the part of a line it did not take by then is dropped.
/// Failures (a closed terminal's EIO, EPIPE, a full disk) drop the rest silently; the descriptor's
/// flags, shared with whoever started the program, are left alone, and so is errno.
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

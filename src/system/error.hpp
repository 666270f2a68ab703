// SPDX-License-Identifier: MIT
// Error types that travel up to the program entry, which turns them into the "Error: {}" line.
#pragma once

#include <stdexcept>
#include <string>

namespace glyphrain {

/// An error carrying one of the program's own messages; the entry shows it in double quotes.
class AppError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// A failure reported by the system around the program, shown as it reads: a failed system call
/// (what() is the system's message followed by " (os error N)") or a lost or refused X server
/// connection (code() 0).
class SystemError : public std::runtime_error {
  public:
    explicit SystemError(int errnum);
    explicit SystemError(const std::string& message) : std::runtime_error(message), m_code(0) {}
    int code() const noexcept { return m_code; }

  private:
    int m_code;
};

/// The system's message for errnum followed by " (os error N)".
std::string os_error_text(int errnum);

} // namespace glyphrain

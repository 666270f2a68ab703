// SPDX-License-Identifier: MIT
// A display in front of a test server that hides its BIG-REQUESTS extension, so clients are held
// to the core request length. Xvfb cannot turn that extension off itself.
#pragma once

#include <string>
#include <sys/types.h>

namespace glyphrain::test {

/// Listens on a free display number and relays every connection to server_display, answering
/// "not present" to each QueryExtension for BIG-REQUESTS: clients then send no request over
/// 262,140 bytes. Runs in a child process, stopped by its pid when the object goes. Descriptors
/// passed over the socket (MIT-SHM memfds) are dropped, so the server refuses such attaches.
class CoreLengthProxy {
  public:
    explicit CoreLengthProxy(const std::string& server_display);
    ~CoreLengthProxy();
    CoreLengthProxy(const CoreLengthProxy&) = delete;
    CoreLengthProxy& operator=(const CoreLengthProxy&) = delete;

    /// ":N"
    const std::string& display() const noexcept { return m_display; }

  private:
    std::string m_display;
    std::string m_socket_path;
    pid_t m_pid = -1;
};

} // namespace glyphrain::test

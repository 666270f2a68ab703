// SPDX-License-Identifier: MIT
// A DockWindow of the test process on a private Xvfb and a second connection to read it back: the
// set-up of the in-process X tests.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "display/x11/dock_window.hpp"
#include "support/core_length_proxy.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

namespace glyphrain::test {

/// Sets an environment variable of this process (or removes it, for nothing) for the life of the
/// object, then puts back what was there.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

struct DockOptions {
    std::uint16_t size = 96;
    std::optional<std::uint32_t> slit;
    std::vector<std::string> command;
    bool core_length = false; // the window reaches the server through a relay without BIG-REQUESTS
    bool no_shm = false;      // GLYPHRAIN_NO_SHM is set while the window is opened
};

/// The server, the second connection and the window, opened in that order. The constructor
/// returns once the other connection sees the window mapped, so what a test then does to it
/// cannot overtake the window's own map request. Throws when the relay lets BIG-REQUESTS through.
struct XvfbDock {
    explicit XvfbDock(const DockOptions& options = {});

    XvfbServer server;
    std::optional<CoreLengthProxy> proxy; // with core_length
    XClient x;
    std::unique_ptr<DockWindow> window;
};

} // namespace glyphrain::test

// SPDX-License-Identifier: MIT
// A private headless sway for the Wayland tests, driven by swaymsg and read back by grim, and a
// bare Wayland server without the layer shell; each is stopped by its pid when its owner goes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/temp_dir.hpp"

namespace glyphrain::test {

using Environment = std::map<std::string, std::optional<std::string>>;

/// Why sway cannot run the Wayland tests here (sway, swaymsg or grim missing), or nothing.
std::optional<std::string> sway_missing();

/// The one output of every sway here, at the origin of the layout.
inline constexpr int k_output_width = 800, k_output_height = 600;

class SwayServer {
  public:
    /// Starts sway on the headless backend, as nobody when run as root (sway will not run as
    /// root). Throws, with the end of sway's log, when its output is not up within a few seconds.
    SwayServer();
    ~SwayServer();
    SwayServer(const SwayServer&) = delete;
    SwayServer& operator=(const SwayServer&) = delete;

    pid_t pid() const noexcept { return m_pid; }
    /// XDG_RUNTIME_DIR and WAYLAND_DISPLAY naming this server, DISPLAY unset.
    Environment client_env() const;
    /// swaymsg's standard output for args, or nothing when it failed.
    std::optional<std::string> swaymsg(const std::vector<std::string>& args) const;
    /// The output's pixels in the rectangle as 0xRRGGBB words, rows top to bottom; empty when grim
    /// fails.
    std::vector<std::uint32_t> grim(int x, int y, int width, int height) const;
    /// Ends sway at once (SIGKILL), as a crash would.
    void kill_now();

  private:
    TempDir m_dir; // the runtime directory: sockets, configuration, log
    std::string m_socket;
    std::string m_ipc_socket;
    pid_t m_pid = -1;
};

/// A Wayland server offering wl_compositor alone, as a desktop without the layer shell (GNOME)
/// does: it accepts every request and sends nothing back. It runs in a child process.
class BareWaylandServer {
  public:
    /// Throws when its socket is not up within a few seconds.
    BareWaylandServer();
    ~BareWaylandServer();
    BareWaylandServer(const BareWaylandServer&) = delete;
    BareWaylandServer& operator=(const BareWaylandServer&) = delete;

    pid_t pid() const noexcept { return m_pid; }
    Environment client_env() const;

  private:
    TempDir m_dir;
    pid_t m_pid = -1;
};

} // namespace glyphrain::test

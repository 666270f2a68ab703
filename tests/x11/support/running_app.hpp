// SPDX-License-Identifier: MIT
// glyphRain running on its own private Xvfb with a temporary home, driven like a user would
// (clicks, SIGHUP, an edited configuration file) and judged by its frames and standard error.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include <xcb/xcb.h>

#include "support/temp_dir.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

namespace glyphrain::test {

using Image = std::vector<std::uint32_t>; // 0xRRGGBB, rows top to bottom

/// The colours one configuration produces: interior pixels are black or an ink (head or trail
/// colour) scaled by coverage and fade; the outer ring's shadow tells the theme's bevel.
struct Palette {
    std::vector<std::uint32_t> inks;
    std::uint32_t bevel_shadow = 0;
};

inline const Palette k_default_palette{{0xb4ffb4, 0x00c800}, 0x1e1e1e};
inline const Palette k_zenburn_palette{{0xdcc199, 0xb49e7d}, 0x23201c};
inline const Palette k_red_palette{{0xff0000}, 0x1e1e1e};
inline const Palette k_blue_palette{{0x0000ff}, 0x1e1e1e};
/// Configuration lines giving k_red_palette and k_blue_palette.
inline const std::string k_red_lines = "color = 255, 0, 0\ntrail_color = 255, 0, 0\n";
inline const std::string k_blue_lines = "color = 0, 0, 255\ntrail_color = 0, 0, 255\n";

/// True when the bevel has the palette's shadow and every interior pixel is black or a scaled ink.
bool frame_matches(const Image& image, int size, const Palette& palette);

/// True when the interior holds at least min_pixels lit pixels.
bool frame_is_lit(const Image& image, int size, int min_pixels = 1);

class RunningApp {
  public:
    struct Options {
        std::vector<std::string> args;
        std::optional<std::string> config; // the file's text, written before the start
        std::map<std::string, std::optional<std::string>> env; // on top of app_env
        int size = 96;
        std::string stderr_path; // instead of the log file; err() is then unusable
    };

    /// Starts glyphRain and waits (bounded) for its first frame; check started() afterwards.
    explicit RunningApp(const Options& options);
    /// Kills the click commands still running, then stops glyphRain by its pid.
    ~RunningApp();
    RunningApp(const RunningApp&) = delete;
    RunningApp& operator=(const RunningApp&) = delete;

    /// True once the window showed a frame, i.e. the loop runs and SIGHUP is handled.
    bool started() const noexcept { return m_started; }
    pid_t pid() const noexcept { return m_process->pid(); }
    BackgroundProcess& process() noexcept { return *m_process; }
    XClient& x() noexcept { return m_x; }
    xcb_window_t window() const noexcept { return m_window; }
    const std::string& home() const noexcept { return m_home.path(); }
    std::string config_file() const;

    std::string err() const { return m_process->err(); }
    /// How often text occurs in the standard error so far.
    int count_in_err(const std::string& text) const;
    /// True once text occurs at least n times, false after timeout_ms.
    bool wait_for_count(const std::string& text, int n, int timeout_ms) const;

    /// Replaces the configuration file in one rename, so glyphRain never reads half a file.
    void write_config(const std::string& text) const;
    /// A press and release at window coordinates (x, y); the default is the middle of the window.
    void click(std::uint8_t button, int x = -1, int y = -1);
    void hangup() const;
    /// Sends the close message and waits for the exit status.
    std::optional<int> close_and_wait(int timeout_ms);

    Image image();
    /// Polls frames until pred holds for one; false after timeout_ms.
    bool wait_for_frame(const std::function<bool(const Image&)>& pred, int timeout_ms);
    /// How many times the interior changed while it was polled for duration_ms.
    int frame_changes(int duration_ms);
    int size() const noexcept { return m_size; }

  private:
    XvfbServer m_server;
    XClient m_x;
    TempDir m_home;
    int m_size;
    std::unique_ptr<BackgroundProcess> m_process;
    xcb_window_t m_window = XCB_NONE;
    bool m_started = false;
};

} // namespace glyphrain::test

// SPDX-License-Identifier: MIT
// The X side of viewability: the events about the program's two windows and the windows that hold
// them, the watch on each new holder, and the main window's shape while a dock holds the icon.
#pragma once

#include <cstdint>

#include <xcb/xcb.h>

#include "display/x11/viewability.hpp"

namespace glyphrain {

/// Feeds Viewability from the server's events. A new holder (a reparent into anything but the
/// root) is watched from then on, since unmapping it tells the windows inside nothing, looked at
/// once (one round trip) and asked for the whole size, which a dock that shrank the window before
/// would otherwise keep. While a dock holds the icon window the main window is shaped to nothing,
/// so that no part of it shows wherever the dock parks it.
class HolderWatch {
  public:
    HolderWatch(xcb_connection_t* c, std::uint32_t main_window, std::uint32_t icon_window,
                std::uint32_t root, std::uint16_t size) noexcept;

    /// What one event meant for the frames.
    enum class Change {
        none,     // nothing about the windows
        noted,    // their state was noted, and the same windows show
        new_view, // a new size or holder, or another set of windows showing: draw them whole
    };
    Change note(const xcb_generic_event_t& event);

    const Viewability& viewability() const noexcept { return m_viewability; }
    Viewability& viewability() noexcept { return m_viewability; }

  private:
    /// Feeds one event to the notes; false when it says nothing about the windows.
    bool note_event(const xcb_generic_event_t& event);
    /// Watches window's new holder, asks it for the whole size and takes its map state and size.
    void follow_reparent(std::uint32_t window, std::uint32_t parent, std::int16_t x,
                         std::int16_t y);
    /// Shapes the main window to nothing while a dock holds the icon window, back when not.
    void hide_main_window_while_docked();

    xcb_connection_t* m_connection;
    std::uint32_t m_main_window;
    std::uint32_t m_icon_window;
    std::uint32_t m_root;
    std::uint16_t m_size;
    Viewability m_viewability;
    bool m_main_shaped_away = false;
};

} // namespace glyphrain

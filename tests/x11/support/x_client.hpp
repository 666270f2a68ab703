// SPDX-License-Identifier: MIT
// A second X connection for tests: reads windows, properties and pixels back, and plays the
// user or the window manager (close message, destroy, fake clicks).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <xcb/xcb.h>

#include "display/x11/xcb_ptr.hpp"

namespace glyphrain::test {

struct Property {
    xcb_atom_t type = 0;
    std::uint8_t format = 0;
    std::vector<std::uint8_t> bytes;
    /// The data as 32-bit words (format 32).
    std::vector<std::uint32_t> words() const;
};

struct Geometry {
    std::int16_t x = 0, y = 0;
    std::uint16_t width = 0, height = 0;
};

struct Tree {
    xcb_window_t parent = 0;
    std::vector<xcb_window_t> children;
};

struct Attributes {
    std::uint16_t window_class = 0;
    std::uint8_t map_state = 0;
    std::uint32_t all_event_masks = 0;
};

class XClient {
  public:
    explicit XClient(const std::string& display);
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    xcb_connection_t* connection() const noexcept { return m_c; }
    xcb_window_t root() const noexcept { return m_root; }
    std::uint32_t max_request_bytes();

    /// The atom, creating it when create is set; XCB_ATOM_NONE when it does not exist.
    xcb_atom_t atom(const std::string& name, bool create = true);
    std::optional<Property> property(xcb_window_t window, xcb_atom_t name);
    Geometry geometry(xcb_window_t window);
    Tree tree(xcb_window_t window);
    Attributes attributes(xcb_window_t window);

    /// The first window below the root (any depth) with glyphRain's WM_CLASS.
    std::optional<xcb_window_t> find_dock_window();
    /// find_dock_window, retried until timeout_ms.
    std::optional<xcb_window_t> wait_for_dock_window(int timeout_ms);

    /// Pixels of a window area as 0xRRGGBB values, rows top to bottom; empty when GetImage fails.
    std::vector<std::uint32_t> image(xcb_window_t window, std::int16_t x, std::int16_t y,
                                     std::uint16_t width, std::uint16_t height);

    /// The window's top-left corner in root coordinates.
    std::pair<int, int> root_position(xcb_window_t window);
    /// Moves a window to (x, y) in its parent, as a window manager would.
    void move(xcb_window_t window, std::int16_t x, std::int16_t y);
    /// Resizes a window, as a dock that fits it to its tile would.
    void resize(xcb_window_t window, std::uint16_t width, std::uint16_t height);
    /// Puts a window into parent at (x, y), as a dock taking it in would.
    void reparent(xcb_window_t window, xcb_window_t parent, std::int16_t x, std::int16_t y);
    /// Has the moves and resizes of window's children come to this client as ConfigureRequest,
    /// as a dock that fits windows to its tiles does (SubstructureRedirect).
    void redirect_children(xcb_window_t window);
    /// The first ConfigureRequest among the events this client has received, the others dropped.
    std::optional<xcb_configure_request_event_t> take_configure_request();
    /// Maps or unmaps a window, as a window manager would.
    void set_mapped(xcb_window_t window, bool mapped);
    /// Clears a window to its background and has the server send it Expose, as when a window
    /// over it goes away.
    void clear_area(xcb_window_t window);
    /// The extents of the window's bounding shape, relative to its corner: its own area when it
    /// is not shaped, empty when it is shaped to nothing.
    Geometry shape_extents(xcb_window_t window);
    /// Maps a window of this client at the given root area; returns its id. An override-redirect
    /// one stays there whatever a window manager wants; another is left to the manager.
    xcb_window_t create_window(std::int16_t x, std::int16_t y, std::uint16_t width,
                               std::uint16_t height, bool override_redirect);

    /// What a window manager's close action sends.
    void send_delete_window(xcb_window_t window);
    void send_client_message(xcb_window_t window, xcb_atom_t type, std::uint32_t word0);
    void destroy_window(xcb_window_t window);
    /// Moves the pointer to root coordinates (x, y), presses and releases button (XTEST).
    void click(std::int16_t x, std::int16_t y, std::uint8_t button);
    /// Holds Alt_L and drags with button 1 from one root point to another in small steps, as a
    /// user moves a dock app's tile (XTEST). False when no key of the keyboard maps to Alt_L.
    bool alt_drag(std::int16_t from_x, std::int16_t from_y, std::int16_t to_x, std::int16_t to_y);
    /// Waits until the server has handled every request sent so far.
    void sync();

  private:
    /// The reply to request `sequence` (null on an X error); throws when none comes in time.
    void* await_reply(unsigned int sequence, const char* request);
    template <class R> XcbPtr<R> await(unsigned int sequence, const char* request) {
        return XcbPtr<R>(static_cast<R*>(await_reply(sequence, request)));
    }

    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
};

} // namespace glyphrain::test

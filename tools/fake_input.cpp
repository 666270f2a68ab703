// SPDX-License-Identifier: MIT
// Plays the user or the window manager against the glyphRain window of $DISPLAY, for scripted
// runs: a button click in the window's centre (XTEST) or the close message.
// usage: fake_input click BUTTON | fake_input close
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include <xcb/xcb.h>

#include "find_window.hpp"
#include "support/fake_click.hpp"

namespace {

using tools::find_dock_window;
using tools::XcbPtr;

xcb_atom_t intern(xcb_connection_t* c, std::string_view name) {
    XcbPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

bool click(xcb_connection_t* c, xcb_window_t root, xcb_window_t w, std::uint8_t button) {
    XcbPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    XcbPtr<xcb_translate_coordinates_reply_t> at(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, root, 0, 0), nullptr));
    if (!geometry || !at) return false;
    const auto x = static_cast<std::int16_t>(at->dst_x + geometry->width / 2);
    const auto y = static_cast<std::int16_t>(at->dst_y + geometry->height / 2);
    glyphrain::test::fake_click(c, root, x, y, button);
    return true;
}

// With an empty event mask the server delivers the message to the window's creator, as a window
// manager's close action does.
void close_window(xcb_connection_t* c, xcb_window_t w) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = w;
    event.type = intern(c, "WM_PROTOCOLS");
    event.data.data32[0] = intern(c, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
}

int usage() {
    std::fputs("usage: fake_input click BUTTON | fake_input close\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string_view command = argv[1];
    int button = 0;
    if (command == "click") {
        if (argc != 3 || (button = std::atoi(argv[2])) < 1 || button > 255) return usage();
    } else if (command != "close" || argc != 2) {
        return usage();
    }

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fputs("fake_input: cannot connect to the X server\n", stderr);
        xcb_disconnect(c);
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // The window may still be on its way: look for up to five seconds.
    std::optional<xcb_window_t> window;
    for (int attempt = 0; attempt < 100 && !window; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        window = find_dock_window(c, root);
    }
    int status = 0;
    if (!window) {
        std::fputs("fake_input: no glyphRain window\n", stderr);
        status = 1;
    } else if (command == "close") {
        close_window(c, *window);
    } else if (!click(c, root, *window, static_cast<std::uint8_t>(button))) {
        std::fputs("fake_input: cannot place the click\n", stderr);
        status = 1;
    }
    // A round trip makes sure the server has handled everything before the process ends.
    const XcbPtr<xcb_get_input_focus_reply_t> synced(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
    return status;
}

// SPDX-License-Identifier: MIT
// A button click through XTEST, shared by the X tests and tools/fake_input.
#pragma once

#include <cstdint>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace glyphrain::test {

/// Presses and releases button at (x, y) on root. The press goes where the pointer is, like a
/// real one: the pointer is moved there first. Only queues the requests; the caller flushes.
inline void fake_click(xcb_connection_t* c, xcb_window_t root, std::int16_t x, std::int16_t y,
                       std::uint8_t button) {
    xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, x, y, 0);
    xcb_test_fake_input(c, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(c, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

} // namespace glyphrain::test

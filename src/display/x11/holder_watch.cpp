// SPDX-License-Identifier: MIT
// Map, unmap, visibility, configure and reparent events of the two windows and their holders into
// Viewability; a look at each new holder, and the shape of the main window while docked.
#include "display/x11/holder_watch.hpp"

#include <algorithm>
#include <array>
#include <span>

#include <xcb/shape.h>

#include "display/x11/xcb_ptr.hpp"

namespace glyphrain {

HolderWatch::HolderWatch(xcb_connection_t* c, std::uint32_t main_window, std::uint32_t icon_window,
                         std::uint32_t root, std::uint16_t size) noexcept
    : m_connection(c), m_main_window(main_window), m_icon_window(icon_window), m_root(root),
      m_size(size), m_viewability(main_window, icon_window, root, size) {}

HolderWatch::Change HolderWatch::note(const xcb_generic_event_t& event) {
    const std::span<const std::uint32_t> before_span = m_viewability.viewable();
    std::array<std::uint32_t, 2> before{};
    const std::size_t before_count = std::min(before_span.size(), before.size());
    std::copy_n(before_span.begin(), before_count, before.begin());
    if (!note_event(event)) return Change::none;
    hide_main_window_while_docked();
    // A new size or holder may show more or less of the picture, and a window that shows again
    // lost what it showed: either is drawn whole.
    const std::uint8_t type = event.response_type & 0x7f;
    if (type == XCB_CONFIGURE_NOTIFY || type == XCB_REPARENT_NOTIFY ||
        !std::ranges::equal(m_viewability.viewable(), std::span(before.data(), before_count)))
        return Change::new_view;
    return Change::noted;
}

bool HolderWatch::note_event(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7f) {
    case XCB_MAP_NOTIFY:
        m_viewability.note_mapped(reinterpret_cast<const xcb_map_notify_event_t&>(event).window,
                                  true);
        return true;
    case XCB_UNMAP_NOTIFY:
        m_viewability.note_mapped(reinterpret_cast<const xcb_unmap_notify_event_t&>(event).window,
                                  false);
        return true;
    case XCB_VISIBILITY_NOTIFY: {
        const auto& seen = reinterpret_cast<const xcb_visibility_notify_event_t&>(event);
        m_viewability.note_fully_obscured(seen.window, seen.state == XCB_VISIBILITY_FULLY_OBSCURED);
        return true;
    }
    case XCB_CONFIGURE_NOTIFY: {
        // A window manager's synthetic one gives root coordinates; the server's own follows.
        if ((event.response_type & 0x80) != 0) return false;
        const auto& moved = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
        m_viewability.note_configured(moved.window, moved.x, moved.y, {moved.width, moved.height},
                                      moved.border_width);
        return true;
    }
    case XCB_REPARENT_NOTIFY: {
        const auto& taken = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
        if (taken.window != m_main_window && taken.window != m_icon_window) return false;
        follow_reparent(taken.window, taken.parent, taken.x, taken.y);
        return true;
    }
    default:
        return false;
    }
}

void HolderWatch::follow_reparent(std::uint32_t window, std::uint32_t parent, std::int16_t x,
                                  std::int16_t y) {
    xcb_connection_t* c = m_connection;
    const std::uint32_t old_parent = m_viewability.parent_of(window);
    m_viewability.note_reparented(window, parent, x, y);
    const std::uint32_t other = window == m_main_window ? m_icon_window : m_main_window;
    if (old_parent != 0 && old_parent != parent && m_viewability.parent_of(other) != old_parent) {
        const std::uint32_t nothing[] = {XCB_EVENT_MASK_NO_EVENT};
        xcb_change_window_attributes(c, old_parent, XCB_CW_EVENT_MASK, nothing);
    }
    if (parent == m_root) return;
    // A dock that shrank the window before keeps that size when it takes it again, unless asked.
    const std::uint32_t whole[] = {m_size, m_size};
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, whole);
    // Selected before the look, so that no change falls in between.
    const std::uint32_t watch[] = {XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_change_window_attributes(c, parent, XCB_CW_EVENT_MASK, watch);
    const xcb_get_window_attributes_cookie_t state_cookie = xcb_get_window_attributes(c, parent);
    const xcb_get_geometry_cookie_t size_cookie = xcb_get_geometry(c, parent);
    XcbPtr<xcb_get_window_attributes_reply_t> state(
        xcb_get_window_attributes_reply(c, state_cookie, nullptr));
    XcbPtr<xcb_get_geometry_reply_t> size(xcb_get_geometry_reply(c, size_cookie, nullptr));
    // A holder already gone is followed by another reparent or the end of the window.
    if (!state || !size) return;
    const Viewability::MapState map_state =
        state->map_state == XCB_MAP_STATE_VIEWABLE     ? Viewability::MapState::viewable
        : state->map_state == XCB_MAP_STATE_UNVIEWABLE ? Viewability::MapState::unviewable
                                                       : Viewability::MapState::unmapped;
    m_viewability.note_parent(parent, map_state, {size->width, size->height});
}

void HolderWatch::hide_main_window_while_docked() {
    const bool docked = m_viewability.icon_docked();
    if (docked == m_main_shaped_away) return;
    xcb_connection_t* c = m_connection;
    // Without the extension the main window is still left undrawn, only not hidden.
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (shape == nullptr || !shape->present) return;
    // Shaped rather than unmapped or moved: a dock that finds it unmapped drops the app, and
    // one that restarts takes in only mapped windows.
    if (docked)
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED,
                             m_main_window, 0, 0, 0, nullptr);
    else
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, m_main_window, 0, 0, XCB_NONE);
    m_main_shaped_away = docked;
    // Nothing else may be sent while nothing shows; a failure shows at the next poll.
    (void)xcb_flush(c);
}

} // namespace glyphrain

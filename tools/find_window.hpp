// SPDX-License-Identifier: MIT
// Finding the glyphRain window from another X client: shared by the development tools.
#pragma once

#include <cstring>
#include <optional>
#include <vector>

#include <xcb/xcb.h>

#include "display/x11/xcb_ptr.hpp"

namespace tools {

using glyphrain::XcbPtr;

inline constexpr char k_dock_class[] = "glyphrain\0glyphRain"; // 20 bytes with the final NUL

inline bool has_dock_class(xcb_connection_t* c, xcb_window_t w) {
    XcbPtr<xcb_get_property_reply_t> p(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 16), nullptr));
    return p && xcb_get_property_value_length(p.get()) == sizeof k_dock_class &&
           std::memcmp(xcb_get_property_value(p.get()), k_dock_class, sizeof k_dock_class) == 0;
}

/// Depth-first search below root, since a window manager may have reparented the window.
inline std::optional<xcb_window_t> find_dock_window(xcb_connection_t* c, xcb_window_t root) {
    std::vector<xcb_window_t> pending{root};
    while (!pending.empty()) {
        xcb_window_t w = pending.back();
        pending.pop_back();
        if (has_dock_class(c, w)) return w;
        XcbPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
        if (!tree) continue;
        const xcb_window_t* kids = xcb_query_tree_children(tree.get());
        pending.insert(pending.end(), kids, kids + xcb_query_tree_children_length(tree.get()));
    }
    return std::nullopt;
}

} // namespace tools

// SPDX-License-Identifier: MIT
// The one owner of every kind of Wayland object the layer surface holds: a unique_ptr whose
// deleter sends the kind's destructor request where the bound version has one. Free of Wayland's
// headers, so that the room's own headers can hold such objects without them.
#pragma once

#include <memory>

struct wl_buffer;
struct wl_callback;
struct wl_compositor;
struct wl_display;
struct wl_output;
struct wl_pointer;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct wl_shm_pool;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace glyphrain {

/// Destroys one of the object kinds above (disconnects, for wl_display); made for those kinds
/// only, in wl_ptr.cpp.
struct WlDeleter {
    template <typename T> void operator()(T* object) const noexcept;
};

/// Owns one Wayland object, or the connection itself for wl_display.
template <typename T> using WlPtr = std::unique_ptr<T, WlDeleter>;

} // namespace glyphrain

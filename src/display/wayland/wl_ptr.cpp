// SPDX-License-Identifier: MIT
// How each kind of Wayland object goes: its destructor request where the bound version has one,
// else the proxy is only forgotten and the compositor drops the object with the connection.
#include "display/wayland/wl_ptr.hpp"

#include <wayland-client.h>

#include "wlr-layer-shell-unstable-v1-client-protocol.h"

namespace glyphrain {
namespace {

void destroy(wl_display* p) noexcept {
    wl_display_disconnect(p);
}
void destroy(wl_registry* p) noexcept {
    wl_registry_destroy(p);
}
void destroy(wl_compositor* p) noexcept {
    wl_compositor_destroy(p);
}
void destroy(wl_shm* p) noexcept {
    wl_shm_destroy(p);
}
void destroy(wl_shm_pool* p) noexcept {
    wl_shm_pool_destroy(p);
}
void destroy(wl_buffer* p) noexcept {
    wl_buffer_destroy(p);
}
void destroy(wl_surface* p) noexcept {
    wl_surface_destroy(p);
}
void destroy(wl_callback* p) noexcept {
    wl_callback_destroy(p);
}
void destroy(wl_seat* p) noexcept {
    if (wl_seat_get_version(p) >= WL_SEAT_RELEASE_SINCE_VERSION)
        wl_seat_release(p);
    else
        wl_seat_destroy(p);
}
void destroy(wl_pointer* p) noexcept {
    if (wl_pointer_get_version(p) >= WL_POINTER_RELEASE_SINCE_VERSION)
        wl_pointer_release(p);
    else
        wl_pointer_destroy(p);
}
void destroy(wl_output* p) noexcept {
    if (wl_output_get_version(p) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
        wl_output_release(p);
    else
        wl_output_destroy(p);
}
void destroy(zwlr_layer_shell_v1* p) noexcept {
    if (zwlr_layer_shell_v1_get_version(p) >= ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION)
        zwlr_layer_shell_v1_destroy(p);
    else
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(p));
}
void destroy(zwlr_layer_surface_v1* p) noexcept {
    zwlr_layer_surface_v1_destroy(p);
}

} // namespace

template <typename T> void WlDeleter::operator()(T* object) const noexcept {
    destroy(object);
}

template void WlDeleter::operator()(wl_buffer*) const noexcept;
template void WlDeleter::operator()(wl_callback*) const noexcept;
template void WlDeleter::operator()(wl_compositor*) const noexcept;
template void WlDeleter::operator()(wl_display*) const noexcept;
template void WlDeleter::operator()(wl_output*) const noexcept;
template void WlDeleter::operator()(wl_pointer*) const noexcept;
template void WlDeleter::operator()(wl_registry*) const noexcept;
template void WlDeleter::operator()(wl_seat*) const noexcept;
template void WlDeleter::operator()(wl_shm*) const noexcept;
template void WlDeleter::operator()(wl_shm_pool*) const noexcept;
template void WlDeleter::operator()(wl_surface*) const noexcept;
template void WlDeleter::operator()(zwlr_layer_shell_v1*) const noexcept;
template void WlDeleter::operator()(zwlr_layer_surface_v1*) const noexcept;

} // namespace glyphrain

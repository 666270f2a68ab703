// SPDX-License-Identifier: MIT
// One click on a Wayland compositor for the Wayland tests and scripted runs: a virtual pointer
// moves to output coordinates X,Y and presses and releases a button there.
// usage: wayland_pointer X Y BUTTON   (BUTTON 1 left, 2 middle, 3 right; on $WAYLAND_DISPLAY)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <wayland-client.h>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

constexpr std::uint32_t k_btn_left = 0x110, k_btn_right = 0x111, k_btn_middle = 0x112;
constexpr std::uint32_t k_seat_pointer = 1; // WL_SEAT_CAPABILITY_POINTER

/// The objects the tool uses, destroyed before the connection goes.
struct Globals {
    wl_registry* registry = nullptr;
    wl_output* output = nullptr;
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* pointers = nullptr;
    zwlr_virtual_pointer_v1* pointer = nullptr;
    std::uint32_t width = 0, height = 0; // the output's current mode
    std::uint32_t capabilities = 0;      // the seat's

    Globals() = default;
    Globals(const Globals&) = delete;
    Globals& operator=(const Globals&) = delete;
    ~Globals() {
        if (pointer) zwlr_virtual_pointer_v1_destroy(pointer);
        if (pointers) zwlr_virtual_pointer_manager_v1_destroy(pointers);
        if (seat) wl_seat_destroy(seat);
        if (output) wl_output_destroy(output);
        if (registry) wl_registry_destroy(registry);
    }
};

void on_mode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
             std::int32_t) {
    if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
    static_cast<Globals*>(data)->width = static_cast<std::uint32_t>(width);
    static_cast<Globals*>(data)->height = static_cast<std::uint32_t>(height);
}
void on_geometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                 std::int32_t, const char*, const char*, std::int32_t) {}
void on_done(void*, wl_output*) {}
void on_scale(void*, wl_output*, std::int32_t) {}
const wl_output_listener k_output_listener{on_geometry, on_mode, on_done, on_scale};

void on_capabilities(void* data, wl_seat*, std::uint32_t capabilities) {
    static_cast<Globals*>(data)->capabilities = capabilities;
}
void on_seat_name(void*, wl_seat*, const char*) {}
const wl_seat_listener k_seat_listener{on_capabilities, on_seat_name};

void on_global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
               std::uint32_t) {
    auto& g = *static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_output_interface.name) == 0 && g.output == nullptr) {
        g.output =
            static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1));
        wl_output_add_listener(g.output, &k_output_listener, &g);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && g.seat == nullptr) {
        g.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        wl_seat_add_listener(g.seat, &k_seat_listener, &g);
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        g.pointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    }
}
void on_global_remove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener k_registry_listener{on_global, on_global_remove};

std::uint32_t now_ms() {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

int fail(const char* message) {
    std::fprintf(stderr, "wayland_pointer: %s\n", message);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    unsigned long x = 0, y = 0, button = 0;
    if (argc != 4 || std::sscanf(argv[1], "%lu", &x) != 1 || std::sscanf(argv[2], "%lu", &y) != 1 ||
        std::sscanf(argv[3], "%lu", &button) != 1 || button < 1 || button > 3) {
        std::fprintf(stderr, "usage: wayland_pointer X Y BUTTON   (BUTTON 1, 2 or 3)\n");
        return 2;
    }
    const std::unique_ptr<wl_display, decltype(&wl_display_disconnect)> connection(
        wl_display_connect(nullptr), wl_display_disconnect);
    wl_display* display = connection.get();
    if (display == nullptr) return fail("cannot connect to $WAYLAND_DISPLAY");
    Globals g;
    g.registry = wl_display_get_registry(display);
    wl_registry_add_listener(g.registry, &k_registry_listener, &g);
    // The globals, then their first events (the output's mode, the seat's capabilities).
    wl_display_roundtrip(display);
    wl_display_roundtrip(display);
    if (g.pointers == nullptr) return fail("the compositor offers no virtual pointer");
    if (g.output == nullptr || g.width == 0 || g.height == 0 || x >= g.width || y >= g.height)
        return fail("X,Y lies outside the first output");

    g.pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.pointers, g.seat);
    // A seat without a pointer gains one with this device; the clients hear of it as this tool
    // does, and bind their own pointer in answer: wait for the news, then give them a moment.
    for (int i = 0; i < 100 && g.seat != nullptr && (g.capabilities & k_seat_pointer) == 0; ++i)
        wl_display_roundtrip(display);
    zwlr_virtual_pointer_v1_motion_absolute(g.pointer, now_ms(), static_cast<std::uint32_t>(x),
                                            static_cast<std::uint32_t>(y), g.width, g.height);
    zwlr_virtual_pointer_v1_frame(g.pointer);
    wl_display_roundtrip(display);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const std::uint32_t code = button == 1 ? k_btn_left : button == 2 ? k_btn_middle : k_btn_right;
    for (std::uint32_t state : {1u, 0u}) {
        zwlr_virtual_pointer_v1_button(g.pointer, now_ms(), code, state);
        zwlr_virtual_pointer_v1_frame(g.pointer);
    }
    if (wl_display_roundtrip(display) < 0) return fail("the compositor closed the connection");
    return 0;
}

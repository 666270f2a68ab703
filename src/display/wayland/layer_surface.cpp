// SPDX-License-Identifier: MIT
// Layer surface set-up over libwayland-client, its listeners and the event poll. Listeners only
// note what happened; the main loop learns it from poll_event and viewable_targets.
#include "display/wayland/layer_surface.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <poll.h>
#include <stdexcept>
#include <utility>

#include <fmt/core.h>
#include <wayland-client.h>

#include "wlr-layer-shell-unstable-v1-client-protocol.h"

namespace glyphrain {
namespace {

// The highest versions whose events the listeners below know; a compositor may offer more.
constexpr std::uint32_t k_compositor_version = 4; // damage_buffer
constexpr std::uint32_t k_layer_shell_version = 4;
constexpr std::uint32_t k_seat_version = 5;
constexpr std::uint32_t k_output_version = 4; // name

// Linux input event codes of the three buttons, as wl_pointer.button reports them.
constexpr std::uint32_t k_btn_left = 0x110;
constexpr std::uint32_t k_btn_right = 0x111;
constexpr std::uint32_t k_btn_middle = 0x112;

constexpr char k_namespace[] = "glyphrain";

std::uint32_t layer_value(Placement::Layer layer) noexcept {
    switch (layer) {
    case Placement::Layer::background:
        return ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND;
    case Placement::Layer::bottom:
        return ZWLR_LAYER_SHELL_V1_LAYER_BOTTOM;
    case Placement::Layer::top:
        return ZWLR_LAYER_SHELL_V1_LAYER_TOP;
    case Placement::Layer::overlay:
        return ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY;
    }
    return ZWLR_LAYER_SHELL_V1_LAYER_TOP;
}

/// The two edges of the corner, which also take the margin.
struct CornerEdges {
    bool top = true;
    bool left = false;
};

CornerEdges edges_of(Placement::Corner corner) noexcept {
    switch (corner) {
    case Placement::Corner::top_left:
        return {true, true};
    case Placement::Corner::top_right:
        return {true, false};
    case Placement::Corner::bottom_left:
        return {false, true};
    case Placement::Corner::bottom_right:
        return {false, false};
    }
    return {};
}

} // namespace

template <typename Work> void LayerSurface::guarded(Work&& work) noexcept {
    // An exception must not cross libwayland's C frames; the first one is thrown again once the
    // dispatch has returned.
    try {
        work();
    } catch (...) {
        if (!m_failure) m_failure = std::current_exception();
    }
}

LayerSurface::LayerSurface(std::uint16_t size, const Placement& placement)
    : m_placement(placement), m_size(size) {
    if (size <= 2 * k_frame_px) throw std::invalid_argument("layer surface size too small");

    m_display.reset(wl_display_connect(nullptr));
    if (!m_display) {
        const int error = errno;
        // libwayland's own default when the variable is unset.
        const char* name = std::getenv("WAYLAND_DISPLAY");
        throw CompositorUnreachable(fmt::format(
            "Cannot connect to the Wayland compositor {}: {}",
            name != nullptr && *name != '\0' ? name : "wayland-0", os_error_text(error)));
    }

    static constexpr wl_registry_listener k_registry_listener = {
        .global =
            [](void* data, wl_registry*, std::uint32_t global, const char* interface,
               std::uint32_t version) {
                auto* self = static_cast<LayerSurface*>(data);
                self->guarded([&] { self->on_global(global, interface, version); });
            },
        .global_remove =
            [](void* data, wl_registry*, std::uint32_t global) {
                static_cast<LayerSurface*>(data)->on_global_remove(global);
            },
    };
    m_registry.reset(wl_display_get_registry(m_display.get()));
    if (!m_registry) throw_lost(ENOMEM);
    wl_registry_add_listener(m_registry.get(), &k_registry_listener, this);
    roundtrip(); // the globals
    if (!m_layer_shell) return;
    if (!m_compositor || !m_shm)
        throw SystemError("The Wayland compositor offers no wl_compositor or no wl_shm");
    roundtrip(); // the outputs' names and the seat's capabilities

    m_buffers = std::make_unique<ShmBuffers>(m_shm.get(), size);
    make_layer_surface();
    roundtrip(); // the first configure, unless there is no output yet
}

LayerSurface::~LayerSurface() = default;

void LayerSurface::roundtrip() {
    if (wl_display_roundtrip(m_display.get()) < 0) throw_lost(errno);
    after_dispatch();
}

void LayerSurface::after_dispatch() {
    if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
    if (m_buffers && m_buffers->take_released() && std::exchange(m_memory_refused, false))
        m_events.push({DisplayEvent::Kind::other, 0});
    // Listeners answer some events with requests (a bind, an acknowledged configure, a new
    // surface) that no frame would carry out soon. libwayland makes no system call for a flush
    // with nothing queued.
    if (flush_queued() == Flush::failed) throw_lost(m_flush_errno);
}

LayerSurface::Flush LayerSurface::flush_queued() noexcept {
    if (wl_display_flush(m_display.get()) >= 0) {
        m_output_blocked = false;
        return Flush::sent;
    }
    // libwayland keeps what the socket did not take and sends it first at the next flush.
    if (errno == EAGAIN) {
        m_output_blocked = true;
        return Flush::blocked;
    }
    m_flush_errno = errno;
    m_output_blocked = false;
    return Flush::failed;
}

void LayerSurface::throw_lost(int errnum) const {
    wl_display* display = m_display.get();
    const int code = wl_display_get_error(display);
    std::string reason;
    if (code == EPROTO) {
        const wl_interface* interface = nullptr;
        std::uint32_t id = 0;
        const std::uint32_t error = wl_display_get_protocol_error(display, &interface, &id);
        reason = fmt::format("protocol error {} on {}@{}", error,
                             interface != nullptr ? interface->name : "an object", id);
    } else {
        reason = os_error_text(code != 0 ? code : errnum != 0 ? errnum : EPIPE);
    }
    throw SystemError(fmt::format("Lost connection to the Wayland compositor: {}", reason));
}

void LayerSurface::on_global(std::uint32_t global, const char* interface, std::uint32_t version) {
    wl_registry* registry = m_registry.get();
    const auto bind = [&](const wl_interface& kind, std::uint32_t highest) {
        return wl_registry_bind(registry, global, &kind, std::min(version, highest));
    };
    const std::string_view name(interface);
    if (name == wl_compositor_interface.name && !m_compositor) {
        m_compositor.reset(
            static_cast<wl_compositor*>(bind(wl_compositor_interface, k_compositor_version)));
    } else if (name == wl_shm_interface.name && !m_shm) {
        m_shm.reset(static_cast<wl_shm*>(bind(wl_shm_interface, 1)));
    } else if (name == zwlr_layer_shell_v1_interface.name && !m_layer_shell) {
        m_layer_shell.reset(static_cast<zwlr_layer_shell_v1*>(
            bind(zwlr_layer_shell_v1_interface, k_layer_shell_version)));
    } else if (name == wl_seat_interface.name && !m_seat) {
        // One seat is enough for clicks; a second one's pointer is not looked at.
        static constexpr wl_seat_listener k_seat_listener = {
            .capabilities =
                [](void* data, wl_seat*, std::uint32_t capabilities) {
                    auto* self = static_cast<LayerSurface*>(data);
                    self->guarded([&] { self->on_seat_capabilities(capabilities); });
                },
            .name = [](void*, wl_seat*, const char*) {},
        };
        m_seat.reset(static_cast<wl_seat*>(bind(wl_seat_interface, k_seat_version)));
        if (m_seat) wl_seat_add_listener(m_seat.get(), &k_seat_listener, this);
        m_seat_global = global;
    } else if (name == wl_output_interface.name) {
        static constexpr wl_output_listener k_output_listener = {
            .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t, std::int32_t, const char*, const char*, std::int32_t) {},
            .mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t,
                       std::int32_t) {},
            .done =
                [](void* data, wl_output*) {
                    auto* output = static_cast<Output*>(data);
                    output->owner->guarded([&] { output->owner->on_output_done(*output); });
                },
            .scale = [](void*, wl_output*, std::int32_t) {},
            .name =
                [](void* data, wl_output*, const char* output_name) {
                    auto* output = static_cast<Output*>(data);
                    output->owner->guarded([&] { output->name = output_name; });
                },
            .description = [](void*, wl_output*, const char*) {},
        };
        auto output = std::make_unique<Output>();
        output->owner = this;
        output->global = global;
        output->proxy.reset(static_cast<wl_output*>(bind(wl_output_interface, k_output_version)));
        if (!output->proxy) return;
        wl_output_add_listener(output->proxy.get(), &k_output_listener, output.get());
        // Before version 2 an output tells no end of its facts, and no name either.
        const bool told_at_once = version < WL_OUTPUT_DONE_SINCE_VERSION;
        Output& added = *m_outputs.emplace_back(std::move(output));
        if (told_at_once) on_output_done(added);
    }
}

void LayerSurface::on_global_remove(std::uint32_t global) noexcept {
    // A surface on a removed output is closed by the compositor, which is dealt with there.
    std::erase_if(m_outputs, [&](const std::unique_ptr<Output>& o) { return o->global == global; });
    if (global == m_seat_global && m_seat) {
        m_pointer.reset();
        m_seat.reset();
        m_pointer_inside = false;
    }
}

void LayerSurface::on_output_done(Output& output) {
    if (std::exchange(output.done, true)) return;
    if (m_surface_wanted) make_layer_surface();
}

void LayerSurface::on_seat_capabilities(std::uint32_t capabilities) {
    static constexpr wl_pointer_listener k_pointer_listener = {
        .enter =
            [](void* data, wl_pointer*, std::uint32_t, wl_surface* surface, wl_fixed_t,
               wl_fixed_t) {
                auto* self = static_cast<LayerSurface*>(data);
                self->m_pointer_inside = surface != nullptr && surface == self->m_surface.get();
            },
        .leave = [](void* data, wl_pointer*, std::uint32_t,
                    wl_surface*) { static_cast<LayerSurface*>(data)->m_pointer_inside = false; },
        .motion = [](void*, wl_pointer*, std::uint32_t, wl_fixed_t, wl_fixed_t) {},
        .button =
            [](void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button,
               std::uint32_t state) {
                static_cast<LayerSurface*>(data)->on_pointer_button(button, state);
            },
        .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
        .frame = [](void*, wl_pointer*) {},
        .axis_source = [](void*, wl_pointer*, std::uint32_t) {},
        .axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
        .axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
    };
    const bool has_pointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (has_pointer && !m_pointer) {
        m_pointer.reset(wl_seat_get_pointer(m_seat.get()));
        if (m_pointer) wl_pointer_add_listener(m_pointer.get(), &k_pointer_listener, this);
    } else if (!has_pointer && m_pointer) {
        m_pointer.reset();
        m_pointer_inside = false;
    }
}

void LayerSurface::on_pointer_button(std::uint32_t button, std::uint32_t state) noexcept {
    if (!m_pointer_inside || state != WL_POINTER_BUTTON_STATE_PRESSED) return;
    std::uint8_t number = 0;
    switch (button) {
    case k_btn_left:
        number = 1;
        break;
    case k_btn_middle:
        number = 2;
        break;
    case k_btn_right:
        number = 3;
        break;
    default:
        return;
    }
    m_events.push({DisplayEvent::Kind::button_press, number});
}

void LayerSurface::on_configure(std::uint32_t serial) noexcept {
    // The size asked for is the size configured: a corner anchor stretches nothing.
    zwlr_layer_surface_v1_ack_configure(m_layer_surface.get(), serial);
    if (std::exchange(m_configured, true)) return;
    // The compositor shows nothing of a new surface yet, so its first frame must be whole.
    m_whole_due = true;
}

void LayerSurface::on_closed() {
    // Closed for good: the output went, or the user asked. A surface that has shown a frame is
    // made anew at once where an output is left; one closed before that waits for a new output,
    // so that a compositor refusing every new surface is not asked again and again.
    const bool had_shown = m_shown;
    drop_layer_surface();
    m_surface_wanted = true;
    const bool output_ready =
        std::any_of(m_outputs.begin(), m_outputs.end(), [](const auto& o) { return o->done; });
    if (had_shown && output_ready) make_layer_surface();
}

void LayerSurface::make_layer_surface() {
    static constexpr zwlr_layer_surface_v1_listener k_layer_surface_listener = {
        .configure = [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t,
                        std::uint32_t) { static_cast<LayerSurface*>(data)->on_configure(serial); },
        .closed =
            [](void* data, zwlr_layer_surface_v1*) {
                auto* self = static_cast<LayerSurface*>(data);
                self->guarded([&] { self->on_closed(); });
            },
    };
    m_surface_wanted = false;
    m_configured = false;
    m_shown = false;
    m_whole_due = false;
    // A surface that once had a buffer cannot take the role again, so each layer surface gets a
    // new wl_surface.
    m_surface.reset(wl_compositor_create_surface(m_compositor.get()));
    if (!m_surface) throw SystemError(ENOMEM);
    m_layer_surface.reset(zwlr_layer_shell_v1_get_layer_surface(
        m_layer_shell.get(), m_surface.get(), placement_output(), layer_value(m_placement.layer),
        k_namespace));
    if (!m_layer_surface) throw SystemError(ENOMEM);
    zwlr_layer_surface_v1_add_listener(m_layer_surface.get(), &k_layer_surface_listener, this);

    zwlr_layer_surface_v1* layer_surface = m_layer_surface.get();
    const CornerEdges edges = edges_of(m_placement.corner);
    const auto margin = static_cast<std::int32_t>(
        std::min<std::uint32_t>(m_placement.margin, std::numeric_limits<std::int32_t>::max()));
    zwlr_layer_surface_v1_set_size(layer_surface, m_size, m_size);
    zwlr_layer_surface_v1_set_anchor(
        layer_surface,
        (edges.top ? ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP : ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM) |
            (edges.left ? ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT : ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT));
    zwlr_layer_surface_v1_set_margin(layer_surface, edges.top ? margin : 0, edges.left ? 0 : margin,
                                     edges.top ? 0 : margin, edges.left ? margin : 0);
    // It reserves no room of the output and never takes the keyboard.
    zwlr_layer_surface_v1_set_exclusive_zone(layer_surface, 0);
    zwlr_layer_surface_v1_set_keyboard_interactivity(
        layer_surface, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    // Presses on the 4-pixel frame reach nobody, as on X11: only the inside takes input.
    if (wl_region* inside = wl_compositor_create_region(m_compositor.get())) {
        const std::int32_t inner = m_size - 2 * k_frame_px;
        wl_region_add(inside, k_frame_px, k_frame_px, inner, inner);
        wl_surface_set_input_region(m_surface.get(), inside);
        wl_region_destroy(inside);
    }
    // Committed without a buffer: the compositor answers with the first configure.
    wl_surface_commit(m_surface.get());
}

void LayerSurface::drop_layer_surface() noexcept {
    m_frame_callback.reset();
    m_layer_surface.reset();
    m_surface.reset();
    m_configured = false;
    m_whole_due = false;
    m_pointer_inside = false;
    if (m_buffers) m_buffers->renew_held();
}

wl_output* LayerSurface::placement_output() const noexcept {
    // An output of another name, or one that tells none, is the compositor's to choose.
    if (!m_placement.output) return nullptr;
    for (const auto& output : m_outputs)
        if (output->done && output->name == *m_placement.output) return output->proxy.get();
    return nullptr;
}

bool LayerSurface::frame_may_go() const noexcept {
    return m_layer_surface && m_configured && !m_frame_callback;
}

std::span<const std::uint32_t> LayerSurface::viewable_targets() const noexcept {
    static constexpr std::uint32_t k_targets[] = {k_target};
    if (!frame_may_go()) return {};
    return k_targets;
}

std::span<std::uint8_t> LayerSurface::frame_memory(std::span<std::uint8_t>) noexcept {
    if (!frame_may_go()) return {};
    // A frame behind what the socket could not take would only queue up behind it.
    if (m_output_blocked && flush_queued() != Flush::sent) return {};
    const std::optional<std::size_t> index = m_buffers->acquire();
    if (!index) {
        m_memory_refused = true;
        return {};
    }
    return m_buffers->bytes(*index);
}

std::size_t LayerSurface::memory_index(std::span<const std::uint8_t> memory) const noexcept {
    if (!m_buffers) return 0;
    const std::optional<std::size_t> index = m_buffers->index_of(memory);
    return index ? *index + 1 : 0;
}

void LayerSurface::send_frame(std::uint32_t target, std::span<const std::uint8_t> pixels,
                              std::span<const PixelRect> rects) {
    static constexpr wl_callback_listener k_frame_listener = {
        .done =
            [](void* data, wl_callback*, std::uint32_t) {
                // The compositor keeps what it shows, so nothing is lost: the next frame may go.
                auto* self = static_cast<LayerSurface*>(data);
                self->m_frame_callback.reset();
                self->m_shown = true;
                self->m_events.push({DisplayEvent::Kind::other, 0});
            },
    };
    if (target != k_target) throw std::invalid_argument("no such layer surface");
    if (pixels.size() != std::size_t{m_size} * m_size * 4)
        throw std::invalid_argument("frame buffer has the wrong size");
    const std::optional<std::size_t> index = m_buffers ? m_buffers->index_of(pixels) : std::nullopt;
    if (!index) throw std::invalid_argument("frame memory not handed out by the layer surface");
    if (rects.empty()) return;
    if (!frame_may_go()) throw std::invalid_argument("a frame while the layer surface takes none");

    wl_surface* surface = m_surface.get();
    wl_surface_attach(surface, m_buffers->attach(*index), 0, 0);
    const bool buffer_damage =
        wl_surface_get_version(surface) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION;
    for (const PixelRect& rect : rects) {
        // Rectangles lie inside the picture, whose edge fits 16 bits.
        const auto x = static_cast<std::int32_t>(rect.x);
        const auto y = static_cast<std::int32_t>(rect.y);
        const auto width = static_cast<std::int32_t>(rect.width);
        const auto height = static_cast<std::int32_t>(rect.height);
        // At buffer scale 1 surface and buffer coordinates agree.
        if (buffer_damage)
            wl_surface_damage_buffer(surface, x, y, width, height);
        else
            wl_surface_damage(surface, x, y, width, height);
    }
    m_frame_callback.reset(wl_surface_frame(surface));
    if (m_frame_callback) wl_callback_add_listener(m_frame_callback.get(), &k_frame_listener, this);
    wl_surface_commit(surface);
}

void LayerSurface::flush() {
    if (flush_queued() == Flush::failed) throw_lost(m_flush_errno);
}

DisplayEvent LayerSurface::next_queued() noexcept {
    if (m_whole_due && m_configured) {
        m_whole_due = false;
        return {DisplayEvent::Kind::exposed, 0};
    }
    return m_events.pop();
}

DisplayEvent LayerSurface::poll_event(bool read) {
    if (const DisplayEvent event = next_queued(); event.kind != DisplayEvent::Kind::none)
        return event;
    wl_display* display = m_display.get();
    if (read) {
        // Another reader cannot exist in this one thread, but events already queued must be
        // dispatched before a read may start.
        while (wl_display_prepare_read(display) != 0)
            if (wl_display_dispatch_pending(display) < 0) throw_lost(errno);
        pollfd socket{wl_display_get_fd(display), POLLIN, 0};
        if (::poll(&socket, 1, 0) > 0) {
            if (wl_display_read_events(display) < 0) throw_lost(errno);
        } else {
            wl_display_cancel_read(display);
        }
    }
    if (wl_display_dispatch_pending(display) < 0) throw_lost(errno);
    if (wl_display_get_error(display) != 0) throw_lost(0);
    after_dispatch();
    return next_queued();
}

int LayerSurface::event_fd() const noexcept {
    return wl_display_get_fd(m_display.get());
}

std::unique_ptr<Display> open_layer_surface(std::uint16_t size, const Placement& placement) {
    auto surface = std::make_unique<LayerSurface>(size, placement);
    if (!surface->offers_layer_shell()) return nullptr;
    return surface;
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The Wayland display: a layer surface of the compositor's layer shell, the connection and its
// events. Frames go through two shared buffers beside it. Knows nothing of settings or rain: it is
// given a size, a placement and bytes.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "display/display.hpp"
#include "display/geometry.hpp"
#include "display/open_display.hpp"
#include "display/wayland/event_ring.hpp"
#include "display/wayland/shm_buffers.hpp"
#include "display/wayland/wl_ptr.hpp"
#include "system/error.hpp"

namespace glyphrain {

/// No compositor answers at $WAYLAND_DISPLAY: no socket there, or a refused connection. Whoever
/// chose Wayland only because the variable was set may try another display system instead.
class CompositorUnreachable : public SystemError {
  public:
    using SystemError::SystemError;
};

/// A size x size square in a corner of an output, above or below windows as placed. Its frames
/// are paced by the compositor: one is committed only after the last one's frame callback, and
/// nothing shows while the callback is due (an output that is off or asleep sends none).
class LayerSurface final : public Display {
  public:
    /// The one target: the layer surface, however often it is made anew.
    static constexpr std::uint32_t k_target = 1;

    /// Connects to $WAYLAND_DISPLAY (the compositor's default socket when unset) and learns its
    /// globals. When it offers a layer shell, also makes the frames and the layer surface, on the
    /// output named in placement if there is one, else where the compositor chooses, and waits
    /// for the surface's first configure. Throws CompositorUnreachable when no compositor
    /// answers, SystemError when the connection breaks or the frame memory cannot be made.
    LayerSurface(std::uint16_t size, const Placement& placement);
    ~LayerSurface() override;
    LayerSurface(const LayerSurface&) = delete;
    LayerSurface& operator=(const LayerSurface&) = delete;

    /// False when the compositor has no zwlr_layer_shell_v1: nothing was made but the connection.
    bool offers_layer_shell() const noexcept { return m_layer_shell != nullptr; }

    /// k_target while the layer surface is configured and no frame callback is due; else none.
    std::span<const std::uint32_t> viewable_targets() const noexcept override;

    /// A shared buffer the compositor has released, in turn; empty while no frame may be
    /// committed (see viewable_targets), while the compositor holds both buffers, or while the
    /// socket still cannot take what the last flush left.
    std::span<std::uint8_t> frame_memory(std::span<std::uint8_t> client_buffer) noexcept override;
    /// 1 or 2 for the shared buffers, 0 for anything else.
    std::size_t memory_index(std::span<const std::uint8_t> memory) const noexcept override;

    /// Attaches the buffer behind pixels (memory from frame_memory since the last poll_event),
    /// damages each of rects and nothing else, asks for a frame callback and commits. Throws
    /// std::invalid_argument for another target, pixels of the wrong length or not handed out.
    void send_frame(std::uint32_t target, std::span<const std::uint8_t> pixels,
                    std::span<const PixelRect> rects) override;
    /// Sends what is queued; what the socket cannot take now stays queued (output_blocked).
    void flush() override;

    /// The events the listeners have queued: exposed once when a new layer surface is
    /// configured, other when a frame callback comes (the next frame may go) and when a buffer
    /// is released after frame_memory had none, button_press for presses on the surface. With
    /// read, the socket is read first when it has something. Requests the events answer (a
    /// bind, an acknowledged configure, a new surface), and what a blocked flush left, are
    /// flushed here: only then does poll_event without read make a system call.
    DisplayEvent poll_event(bool read = true) override;
    /// The connection's socket.
    int event_fd() const noexcept override;
    /// True while the last flush could not write everything.
    bool output_blocked() const noexcept override { return m_output_blocked; }

    /// XRGB8888 pixels are little-endian 0x00RRGGBB words.
    bool lsb_first() const noexcept override { return true; }
    std::uint16_t size() const noexcept override { return m_size; }

  private:
    /// One wl_output global and the name it told (version 4 and up).
    struct Output {
        LayerSurface* owner = nullptr;
        std::uint32_t global = 0;
        WlPtr<wl_output> proxy;
        std::string name;
        bool done = false; // its first burst of facts has ended
    };
    enum class Flush { sent, blocked, failed };

    template <typename Work> void guarded(Work&& work) noexcept;
    void roundtrip();
    void after_dispatch();
    Flush flush_queued() noexcept;
    [[noreturn]] void throw_lost(int errnum) const;
    DisplayEvent next_queued() noexcept;
    bool frame_may_go() const noexcept;

    void on_global(std::uint32_t global, const char* interface, std::uint32_t version);
    void on_global_remove(std::uint32_t global) noexcept;
    void on_output_done(Output& output);
    void on_seat_capabilities(std::uint32_t capabilities);
    void on_pointer_button(std::uint32_t button, std::uint32_t state) noexcept;
    void on_configure(std::uint32_t serial) noexcept;
    void on_closed();

    void make_layer_surface();
    void drop_layer_surface() noexcept;
    wl_output* placement_output() const noexcept;

    // Declared first, so that the connection goes last.
    WlPtr<wl_display> m_display;
    WlPtr<wl_registry> m_registry;
    WlPtr<wl_compositor> m_compositor;
    WlPtr<wl_shm> m_shm;
    WlPtr<zwlr_layer_shell_v1> m_layer_shell;
    WlPtr<wl_seat> m_seat;
    WlPtr<wl_pointer> m_pointer;
    std::vector<std::unique_ptr<Output>> m_outputs;
    std::unique_ptr<ShmBuffers> m_buffers;
    WlPtr<wl_surface> m_surface;
    WlPtr<zwlr_layer_surface_v1> m_layer_surface;
    WlPtr<wl_callback> m_frame_callback; // set while a committed frame waits for its callback

    EventRing m_events;
    std::exception_ptr m_failure; // thrown inside a listener, rethrown once dispatching is over
    Placement m_placement;
    std::uint16_t m_size = 0;
    std::uint32_t m_seat_global = 0;
    int m_flush_errno = 0;
    bool m_configured = false;     // the current layer surface has had its first configure
    bool m_shown = false;          // and a frame callback: the compositor has shown it
    bool m_whole_due = false;      // exposed is still to be told for the current layer surface
    bool m_surface_wanted = false; // closed: a new layer surface waits for an output
    bool m_pointer_inside = false;
    bool m_memory_refused = false; // frame_memory found both buffers held
    bool m_output_blocked = false;
};

/// The layer surface display for a size x size picture, or nullptr when the compositor offers no
/// layer shell. Throws as LayerSurface does.
std::unique_ptr<Display> open_layer_surface(std::uint16_t size, const Placement& placement);

} // namespace glyphrain

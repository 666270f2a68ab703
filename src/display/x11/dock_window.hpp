// SPDX-License-Identifier: MIT
// The X11 display: the dock window and its icon window with their properties, the connection and
// its events. Frames go through shared memory or PutImage, which are peers beside it, and what
// shows is worked out beside it too. Knows nothing of settings or rain: it is given sizes, a slit
// number, the program's arguments and bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "display/display.hpp"
#include "display/geometry.hpp"

struct xcb_connection_t;

namespace glyphrain {

class HolderWatch;
class PutImageFrames;
class ShmFrames;

/// The dock window that a bare server or a plain window manager shows, and the icon window that
/// docking window managers take into their slit, dock or tile instead; both show the same frames.
class DockWindow final : public Display {
  public:
    /// Connects to $DISPLAY, checks the 32-bpp pixel format and the root visual, creates,
    /// decorates and maps the dock window (size x size, size at least 9), creates the icon window
    /// of the same size (left for the window manager to map) and an input-only child in each, and
    /// flushes all of that before it sets up shared memory for the frames where that pays.
    /// slit adds _VIREO_SLIT; command (the program's arguments as started) becomes WM_COMMAND,
    /// left out when empty or longer than the server accepts in one request. Throws AppError for
    /// the pixel format, SystemError for connection failures.
    DockWindow(std::uint16_t size, std::optional<std::uint32_t> slit,
               std::span<const std::string> command = {});
    ~DockWindow() override;
    DockWindow(const DockWindow&) = delete;
    DockWindow& operator=(const DockWindow&) = delete;

    /// A segment shared with the server that it has finished reading, or client_buffer when
    /// frames go by PutImage. Empty while the server still reads both segments, or while the
    /// connection's socket cannot take more without waiting (a stopped or grabbed server).
    std::span<std::uint8_t> frame_memory(std::span<std::uint8_t> client_buffer) noexcept override;
    bool output_blocked() const noexcept override { return m_output_blocked; }
    /// 1 or 2 for the shared segments, 0 for anything else (the client buffer).
    std::size_t memory_index(std::span<const std::uint8_t> memory) const noexcept override;

    /// The whole frame (size * size * 4 bytes) for window, as the overload below.
    void send_frame(std::uint32_t window, std::span<const std::uint8_t> pixels);
    /// For window (the dock or the icon window, or another window of the root depth): one
    /// ShmPutImage per rectangle (one completion for them all) when pixels came from frame_memory's
    /// segments, else PutImage of each rectangle in bands of rows that fit the request length.
    /// Nothing is flushed; errors the server reports arrive later as events. Allocates nothing.
    void send_frame(std::uint32_t window, std::span<const std::uint8_t> pixels,
                    std::span<const PixelRect> rects) override;
    void flush() override;

    /// True while frames go through shared memory; decided at start-up, and given up for good
    /// after an X error on that path (told once as memory_lost).
    bool shares_memory() const noexcept;

    /// Map, unmap, visibility, configure and reparent events of both windows and of the windows
    /// that hold them update viewable_targets() (see HolderWatch); a new size, holder or set of
    /// viewable windows comes as exposed. Once the queue is empty, a dock that has shown less of
    /// the picture than its size, the same part for a second, is told once as shown_smaller, and
    /// again after it has shown the picture whole.
    DisplayEvent poll_event(bool read = true) override;
    /// The connection's socket.
    int event_fd() const noexcept override;

    /// The windows that are mapped, not fully obscured and in a mapped holder, as last reported
    /// by the events read: none, either or both. While a dock holds the icon window the main
    /// window is never among them.
    std::span<const std::uint32_t> viewable_targets() const noexcept override;

    bool lsb_first() const noexcept override { return m_lsb_first; }
    std::uint16_t size() const noexcept override { return m_size; }
    std::uint32_t window() const noexcept { return m_window; }
    std::uint32_t icon_window() const noexcept { return m_icon_window; }

  private:
    struct ConnectionDeleter {
        void operator()(xcb_connection_t* c) const noexcept;
    };
    std::uint32_t intern_atom(const char* name);
    [[noreturn]] void throw_connection_error(const char* context) const;
    std::uint32_t create_input_window(std::uint32_t parent);

    std::unique_ptr<xcb_connection_t, ConnectionDeleter> m_connection;
    // Declared after the connection, so they go first.
    std::unique_ptr<ShmFrames> m_shm;
    std::unique_ptr<PutImageFrames> m_put_image;
    std::unique_ptr<HolderWatch> m_watch;
    std::uint16_t m_size = 0;
    std::uint32_t m_window = 0;
    std::uint32_t m_gc = 0;
    std::uint32_t m_input_window = 0;
    std::uint32_t m_icon_window = 0;
    std::uint32_t m_icon_input_window = 0;
    std::uint32_t m_delete_window_atom = 0;
    bool m_shm_lost_told = false;
    bool m_output_blocked = false;
    std::uint8_t m_root_depth = 0;
    bool m_lsb_first = true;
};

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The X11 dock window: connection, windows and properties, frame upload, event polling and which
// window is viewable. Knows nothing of settings or rain: it is given sizes, a slit number, the
// program's arguments and bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "display/geometry.hpp"
#include "display/viewability.hpp"

struct xcb_connection_t;

namespace glyphrain {

class ShmFrames;

/// What the main loop needs to know about one queued event.
struct DockEvent {
    enum class Kind {
        none,          // the queue is empty
        button_press,  // a press on either input window; button holds its number
        close_request, // WM_DELETE_WINDOW client message
        destroyed,     // DestroyNotify of either window
        shown_smaller, // the dock now shows only `shown` of the size x size picture
        exposed,       // part of a window's picture is lost (Expose, a new size or holder)
        other,         // anything else (map and visibility changes, X errors): nothing to do
    };
    Kind kind = Kind::none;
    std::uint8_t button = 0;
    Extent shown{};
};

/// How many whole rows of a size x size frame one PutImage may carry when the server accepts
/// requests of at most max_request_bytes: every row when the frame fits in one request, else as
/// many as fit beside the request's 24-byte header (at least one).
std::uint16_t put_image_band_rows(std::size_t max_request_bytes, std::uint16_t size) noexcept;

/// The dock window that a bare server or a plain window manager shows, and the icon window that
/// docking window managers take into their slit, dock or tile instead; both show the same frames.
class DockWindow {
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
    ~DockWindow();
    DockWindow(const DockWindow&) = delete;
    DockWindow& operator=(const DockWindow&) = delete;

    /// Where to compose the next frame: a segment shared with the server that it has finished
    /// reading, or client_buffer when frames go by PutImage. Empty while the server still reads
    /// both segments, or while the connection's socket cannot take more without waiting (a
    /// stopped or grabbed server): that frame is skipped rather than waited for. Valid until the
    /// next poll_event. Allocates nothing.
    std::span<std::uint8_t> frame_memory(std::span<std::uint8_t> client_buffer) noexcept;
    /// True when the last frame_memory was refused for a full socket: event_fd turning writable,
    /// not an event, says when frames can go again.
    bool output_blocked() const noexcept { return m_output_blocked; }
    /// Which memory frame_memory handed out: 1 or 2 for the shared segments, 0 for anything else
    /// (the client buffer). Each keeps what was last composed into it.
    std::size_t memory_index(std::span<const std::uint8_t> memory) const noexcept;

    /// Queues the whole frame (size * size * 4 bytes) for window, the dock or the icon
    /// window (or another window of the root depth): a ShmPutImage when pixels came from
    /// frame_memory's segments, else ZPixmap PutImage: one request when the frame fits the
    /// server's request length, else one per band of whole rows. Nothing is flushed; errors the
    /// server reports arrive later as events. Throws std::invalid_argument when the buffer has the
    /// wrong length.
    void send_frame(std::uint32_t window, std::span<const std::uint8_t> pixels);
    /// The same for only the rectangles of the frame in rects, each to its own place: one
    /// ShmPutImage per rectangle (one completion for them all), else PutImage of each rectangle,
    /// in bands of rows that fit the request length. Nothing is sent for no rectangles. Allocates
    /// nothing.
    void send_frame(std::uint32_t window, std::span<const std::uint8_t> pixels,
                    std::span<const PixelRect> rects);

    /// Sends everything queued; throws SystemError when the connection has failed.
    void flush();

    /// True while frames go through shared memory; decided at start-up, and given up for good
    /// after an X error on that path.
    bool shares_memory() const noexcept;

    /// The next queued event without blocking; throws SystemError on a broken connection.
    /// With read, an empty queue is first refilled from the socket; without, only what earlier
    /// reads (a flush reads too) brought is taken, and no system call is made.
    /// Map, unmap, visibility, configure and reparent events of both windows and of the windows
    /// that hold them update viewable_windows(); a new holder is watched from then on, looked
    /// at once (one round trip) and asked once for the window's whole size, which goes to the dock
    /// that redirects its children or resizes the window at once. Once the queue is empty, a dock
    /// that has shown less of the picture than its size, the same part for a second, is told once
    /// as shown_smaller, and again after it has shown the picture whole.
    DockEvent poll_event(bool read = true);

    /// The connection's socket, readable when the server has sent something: once poll_event
    /// without read has returned none, a wait on it ends at the next event.
    int event_fd() const noexcept;

    /// The windows that are mapped, not fully obscured and in a mapped holder, as last reported
    /// by the events read: none, either or both. While a dock holds the icon window the main
    /// window is never among them, and it is shaped to nothing so that no part of it shows
    /// wherever the dock parks it. Nothing is drawn while it is empty.
    std::span<const std::uint32_t> viewable_windows() const noexcept {
        return m_viewability.viewable();
    }

    bool lsb_first() const noexcept { return m_lsb_first; }
    std::uint16_t size() const noexcept { return m_size; }
    std::uint32_t window() const noexcept { return m_window; }
    std::uint32_t input_window() const noexcept { return m_input_window; }
    std::uint32_t icon_window() const noexcept { return m_icon_window; }
    std::uint32_t icon_input_window() const noexcept { return m_icon_input_window; }
    std::uint32_t delete_window_atom() const noexcept { return m_delete_window_atom; }

  private:
    struct ConnectionDeleter {
        void operator()(xcb_connection_t* c) const noexcept;
    };
    std::uint32_t intern_atom(const char* name);
    [[noreturn]] void throw_connection_error(const char* context) const;
    std::uint32_t create_input_window(std::uint32_t parent);
    /// Feeds one event to the viewability notes; false when it says nothing about the windows.
    bool note_event(const void* event, std::uint8_t type);
    /// Watches window's new holder and takes its map state and size in one round trip.
    void follow_reparent(std::uint32_t window, std::uint32_t parent, std::int16_t x,
                         std::int16_t y);
    /// Shapes the main window to nothing while a dock holds the icon window, back when not.
    void hide_main_window_while_docked();

    std::unique_ptr<xcb_connection_t, ConnectionDeleter> m_connection;
    std::unique_ptr<ShmFrames> m_shm; // declared after the connection, so it goes first
    std::uint16_t m_size = 0;
    std::uint16_t m_band_rows = 0; // rows per PutImage
    std::size_t m_max_request_bytes = 0;
    // Rectangles narrower than the frame are gathered here for PutImage; never read before written.
    std::unique_ptr<std::uint8_t[]> m_scratch;
    std::uint32_t m_window = 0;
    std::uint32_t m_gc = 0;
    std::uint32_t m_input_window = 0;
    std::uint32_t m_icon_window = 0;
    std::uint32_t m_icon_input_window = 0;
    std::uint32_t m_delete_window_atom = 0;
    std::uint32_t m_root = 0;
    Viewability m_viewability{0, 0, 0, 0};
    bool m_main_shaped_away = false;
    bool m_output_blocked = false;
    std::uint8_t m_root_depth = 0;
    bool m_lsb_first = true;
};

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// What the main loop needs of a display system: which targets show, memory for the next frame,
// sending its changed rectangles, and the events between frames. The loop knows only this; each
// display system implements it in a room of its own (display/x11/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "display/geometry.hpp"

namespace glyphrain {

/// What the main loop needs to know about one event of the display.
struct DisplayEvent {
    enum class Kind {
        none,          // nothing queued
        button_press,  // a press inside the frame; button holds 1 (left), 2 (middle), 3 (right)...
        close_request, // the window manager or the session asks the program to end
        destroyed,     // the program's window or surface is gone: the run ends without a word
        shown_smaller, // the holder shows only `shown` of the size x size picture, for a while
        exposed,       // what a target shows is lost or new (an expose, a new size, holder or
                       // target): the next frame sends the whole picture
        memory_lost,   // the frame memory changed (a shared path given up): no buffer is known
        other,         // nothing for the loop to do
    };
    Kind kind = Kind::none;
    std::uint8_t button = 0;
    Extent shown{};
};

/// A square picture of size() pixels shown on one or more targets. Frames are composed into
/// memory the display hands out, then the rectangles that changed are sent to each target that
/// shows and flushed once.
class Display {
  public:
    virtual ~Display() = default;

    /// The targets that show now; nothing is drawn while there are none.
    virtual std::span<const std::uint32_t> viewable_targets() const noexcept = 0;

    /// Where to compose the next frame, size * size * 4 bytes in the byte order lsb_first() says:
    /// memory of the display's own or client_buffer. Empty when the display cannot take a frame
    /// now without waiting: that frame is skipped. Valid until the next poll_event. Allocates
    /// nothing.
    virtual std::span<std::uint8_t>
    frame_memory(std::span<std::uint8_t> client_buffer) noexcept = 0;
    /// Which memory frame_memory handed out: 0 for the client buffer, 1 and up for the display's
    /// own buffers, each of which keeps what was last composed into it.
    virtual std::size_t memory_index(std::span<const std::uint8_t> memory) const noexcept = 0;

    /// Queues the rectangles rects of the frame in pixels (memory from frame_memory) for target,
    /// each to its own place. Nothing is sent for no rectangles. Throws std::invalid_argument
    /// when pixels has the wrong length.
    virtual void send_frame(std::uint32_t target, std::span<const std::uint8_t> pixels,
                            std::span<const PixelRect> rects) = 0;
    /// Sends everything queued; throws SystemError when the connection is lost.
    virtual void flush() = 0;

    /// The next event without blocking; throws SystemError when the connection is lost. With
    /// read, an empty queue is first refilled from the connection; without, only what earlier
    /// reads brought is taken and no system call is made.
    virtual DisplayEvent poll_event(bool read = true) = 0;
    /// Readable when the display has sent something: once poll_event without read has returned
    /// none, a wait on it ends at the next event.
    virtual int event_fd() const noexcept = 0;
    /// True while frames are refused because event_fd cannot take more: its turning writable, not
    /// an event, says when frames can go again.
    virtual bool output_blocked() const noexcept = 0;

    /// Pixels are 0x00RRGGBB words in this byte order: least significant byte first, or last.
    virtual bool lsb_first() const noexcept = 0;
    /// The edge of the square picture in pixels.
    virtual std::uint16_t size() const noexcept = 0;
};

} // namespace glyphrain

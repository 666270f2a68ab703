// SPDX-License-Identifier: MIT
// Frames by core PutImage from the client's memory, in requests that fit the server's limit: the
// peer of ShmFrames for servers that cannot share memory, and for small windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include <xcb/xcb.h>

#include "display/geometry.hpp"

namespace glyphrain {

/// Whole rows of row_bytes each that one PutImage may carry beside its 24-byte header when the
/// server accepts requests of at most max_request_bytes: between 1 and rows.
std::uint16_t rows_per_request(std::size_t max_request_bytes, std::size_t row_bytes,
                               std::uint16_t rows) noexcept;

class PutImageFrames {
  public:
    /// For size x size frames on c, whose requests may hold max_request_bytes. Allocates the one
    /// scratch area that rectangles narrower than the frame are gathered in; untouched, it takes
    /// no resident memory.
    PutImageFrames(xcb_connection_t* c, std::uint16_t size, std::size_t max_request_bytes);

    /// Queues one ZPixmap PutImage per rectangle of the size x size frame in pixels at depth into
    /// the same place of drawable, in bands of whole rows that fit the request length: a frame
    /// that fits goes in one request. Nothing is sent for no rectangles, nothing is flushed, and
    /// errors the server reports arrive later as events.
    void put(std::uint32_t drawable, std::uint32_t gc, std::uint8_t depth,
             std::span<const std::uint8_t> pixels, std::span<const PixelRect> rects) noexcept;

  private:
    xcb_connection_t* m_connection;
    std::uint16_t m_size;
    std::size_t m_max_request_bytes;
    std::unique_ptr<std::uint8_t[]> m_scratch; // never read before written
};

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// PutImage of changed rectangles in bands of whole rows, straight from the frame when a rectangle
// spans its width, else gathered row by row into a scratch area first.
#include "display/x11/put_image_frames.hpp"

#include <algorithm>
#include <cstring>

namespace glyphrain {

std::uint16_t rows_per_request(std::size_t max_request_bytes, std::size_t row_bytes,
                               std::uint16_t rows) noexcept {
    constexpr std::size_t k_header_bytes = 24;
    const std::size_t room =
        max_request_bytes > k_header_bytes ? max_request_bytes - k_header_bytes : 0;
    return static_cast<std::uint16_t>(
        std::clamp<std::size_t>(room / row_bytes, 1, std::max<std::uint16_t>(rows, 1)));
}

PutImageFrames::PutImageFrames(xcb_connection_t* c, std::uint16_t size,
                               std::size_t max_request_bytes)
    : m_connection(c), m_size(size), m_max_request_bytes(max_request_bytes),
      m_scratch(std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t{size} * size * 4)) {}

void PutImageFrames::put(std::uint32_t drawable, std::uint32_t gc, std::uint8_t depth,
                         std::span<const std::uint8_t> pixels,
                         std::span<const PixelRect> rects) noexcept {
    // From 256 px up a frame exceeds the 16-bit length; with BIG-REQUESTS libxcb sends it as one
    // request with the extended length, without it goes in bands.
    const std::size_t row_bytes = std::size_t{m_size} * 4;
    for (const PixelRect& rect : rects) {
        const std::size_t rect_row_bytes = std::size_t{rect.width} * 4;
        const std::uint32_t band = rows_per_request(m_max_request_bytes, rect_row_bytes,
                                                    static_cast<std::uint16_t>(rect.height));
        for (std::uint32_t y = rect.y; y < rect.y + rect.height; y += band) {
            const auto rows = static_cast<std::uint16_t>(std::min(band, rect.y + rect.height - y));
            const std::uint8_t* data = pixels.data() + y * row_bytes + std::size_t{rect.x} * 4;
            if (rect.width != m_size) {
                // libxcb has copied or written the data by the time xcb_put_image returns, so one
                // scratch area serves every band.
                for (std::uint16_t j = 0; j < rows; ++j)
                    std::memcpy(m_scratch.get() + j * rect_row_bytes, data + j * row_bytes,
                                rect_row_bytes);
                data = m_scratch.get();
            }
            xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, gc,
                          static_cast<std::uint16_t>(rect.width), rows,
                          static_cast<std::int16_t>(rect.x), static_cast<std::int16_t>(y), 0, depth,
                          static_cast<std::uint32_t>(rows * rect_row_bytes), data);
        }
    }
}

} // namespace glyphrain

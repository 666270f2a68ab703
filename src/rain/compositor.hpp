// SPDX-License-Identifier: MIT
// Composition of one frame into a client-side pixel buffer in the X server's byte order.
// Works on plain memory only, so every pixel can be checked without a display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/settings.hpp"
#include "display/geometry.hpp"
#include "glyphs/glyph_atlas.hpp"
#include "rain/rain_state.hpp"

namespace glyphrain {

/// width * height pixels of 4 bytes (0x00RRGGBB in the server's byte order): either its own
/// memory, allocated once, or memory lent to it (a segment shared with the X server).
class FrameBuffer {
  public:
    FrameBuffer(std::size_t width, std::size_t height);
    /// Draws into memory owned elsewhere, which must outlive the buffer and hold width * height
    /// 4-byte-aligned pixels; throws std::invalid_argument otherwise. Allocates nothing.
    FrameBuffer(std::size_t width, std::size_t height, std::span<std::uint8_t> memory);
    // A copy would still draw into the original's memory.
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;
    FrameBuffer(FrameBuffer&&) noexcept = default;
    FrameBuffer& operator=(FrameBuffer&&) noexcept = default;

    std::size_t width() const noexcept { return m_width; }
    std::size_t height() const noexcept { return m_height; }
    std::span<std::uint8_t> bytes() noexcept {
        return {reinterpret_cast<std::uint8_t*>(m_pixels.data()), m_pixels.size() * 4};
    }
    std::span<const std::uint8_t> bytes() const noexcept {
        return {reinterpret_cast<const std::uint8_t*>(m_pixels.data()), m_pixels.size() * 4};
    }
    /// The same memory as whole pixels, each word already in the server's byte order.
    std::span<std::uint32_t> pixels() noexcept { return m_pixels; }

  private:
    std::size_t m_width;
    std::size_t m_height;
    struct FreeDeleter {
        void operator()(std::uint32_t* p) const noexcept { std::free(p); }
    };
    // calloc: a large buffer stays untouched, so costs no resident memory, while frames are
    // composed into lent memory instead. Words keep the rows aligned for whole-pixel stores.
    std::unique_ptr<std::uint32_t[], FreeDeleter> m_owned;
    std::span<std::uint32_t> m_pixels; // m_owned, or the lent memory
};

struct BevelColors {
    Rgb shadow_outer, shadow_inner, light_inner, light_outer;
    friend bool operator==(const BevelColors&, const BevelColors&) = default;
};

/// One ring of the sunken frame per pixel of the window's frame.
inline constexpr std::size_t k_bevel_rings = k_frame_px;

/// The bevel colours for a theme name (zenburn or the default grey).
BevelColors bevel_colors_for(const std::optional<std::string>& theme) noexcept;

/// Top-left corner of the cell grid, which is centred in the window.
struct GridOffsets {
    std::size_t x = 0;
    std::size_t y = 0;
};

/// (width - cols * cell_width) / 2 and the same vertically; 0 where the grid would not fit.
GridOffsets grid_offsets(std::size_t width, std::size_t height, std::size_t cols, std::size_t rows,
                         const GlyphAtlas& atlas) noexcept;

/// Brightness of the trail cell d rows behind the head (1 <= d <= length): falls slowly, then
/// steeply, ending at exactly 0.2 on the last cell. Single precision throughout.
float trail_fade(std::int32_t d, std::int32_t length) noexcept;

/// One pixel as a word whose bytes in memory are B, G, R, 0 for LSBFirst servers and 0, R, G, B
/// otherwise, ready to be copied into the buffer.
std::uint32_t pack_pixel(Rgb color, bool lsb_first) noexcept;

/// Clears the buffer, draws every active column's drop, then the bevel. Allocates nothing.
void compose_frame(FrameBuffer& buffer, const RainState& rain, const GlyphAtlas& atlas,
                   const Settings& settings, bool lsb_first) noexcept;

/// Copies one glyph into cell (col, row), its coverage scaled by fade in color, clipped to the
/// buffer; coverage 0 leaves the pixel as it was. An unknown glyph index draws nothing.
void draw_cell(FrameBuffer& buffer, const GlyphAtlas& atlas, std::size_t glyph, std::size_t col,
               std::size_t row, float fade, Rgb color, bool lsb_first,
               GridOffsets offsets) noexcept;

/// Draws the four rings of the frame: top and left in shadow, bottom and right in light.
void draw_bevel(FrameBuffer& buffer, bool lsb_first, const BevelColors& colors) noexcept;

} // namespace glyphrain

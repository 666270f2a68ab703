// SPDX-License-Identifier: MIT
// Where a glyph goes: its cell's corner on the grid and its bitmap's top-left pixel from there,
// the one placement rule of both compositors and the ink index. Internal to the rain.
#pragma once

#include <cstddef>
#include <cstdint>

#include "glyphs/glyph_atlas.hpp"
#include "rain/compositor.hpp"

namespace glyphrain {

// A pixel position, possibly outside the buffer; 64 bits, so that no real atlas overflows it.
struct PixelPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
};

// The top-left pixel of cell (col, row).
inline PixelPoint cell_corner(const GlyphAtlas& atlas, GridOffsets offsets, std::size_t col,
                              std::size_t row) noexcept {
    return {static_cast<std::int64_t>(offsets.x) +
                static_cast<std::int64_t>(col) * static_cast<std::int64_t>(atlas.cell_width),
            static_cast<std::int64_t>(offsets.y) +
                static_cast<std::int64_t>(row) * static_cast<std::int64_t>(atlas.cell_height)};
}

// Where the bitmap's top-left pixel lands from its cell's corner: xmin across, and down so that
// the bitmap's bottom edge sits ymin above the baseline, which is ascent rows down.
inline PixelPoint bitmap_offset(const GlyphAtlas& atlas, const GlyphBitmap& bitmap) noexcept {
    return {bitmap.xmin, static_cast<std::int64_t>(atlas.ascent) - bitmap.ymin -
                             static_cast<std::int64_t>(bitmap.height) + 1};
}

// Both: where the bitmap's top-left pixel lands when its glyph is drawn in cell (col, row).
inline PixelPoint bitmap_origin(const GlyphAtlas& atlas, const GlyphBitmap& bitmap,
                                GridOffsets offsets, std::size_t col, std::size_t row) noexcept {
    const PixelPoint corner = cell_corner(atlas, offsets, col, row);
    const PixelPoint offset = bitmap_offset(atlas, bitmap);
    return {corner.x + offset.x, corner.y + offset.y};
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The mirrored glyph bitmaps and cell metrics: plain data shared with the rain and compositor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glyphrain {

/// Number of glyphs in the fixed kana set (U+3041..U+3096, then U+30A1..U+30F6).
inline constexpr std::size_t k_glyph_count = 172;

struct GlyphBitmap {
    std::vector<std::uint8_t> coverage; // width * height bytes, row-major, top row first, mirrored
    std::size_t width = 0;
    std::size_t height = 0;
    std::int32_t xmin = 0; // column of the leftmost bitmap column, from the cell's left edge
    std::int32_t ymin = 0; // bottom edge above the baseline; negative below it
};

struct GlyphAtlas {
    std::vector<GlyphBitmap> glyphs; // k_glyph_count entries, in glyph-set order
    std::size_t cell_width = 1;
    std::ptrdiff_t cell_height = 1;
    std::int32_t ascent = 0; // top of a cell down to the baseline, in whole pixels
};

/// The atlas with the cell grid that fits inside the frame of the window.
struct AtlasBuild {
    GlyphAtlas atlas;
    std::size_t cols = 0;
    std::size_t rows = 0;
};

} // namespace glyphrain

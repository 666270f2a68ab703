// SPDX-License-Identifier: MIT
// The ink index: each bitmap read once into its runs of ink and the box they cover; glyphs drawn
// back from those runs, so that only inked pixels are written.
#include "rain/glyph_ink.hpp"

#include <algorithm>
#include <limits>

#include "rain/placement.hpp"

namespace glyphrain {

GlyphInk::GlyphInk(const GlyphAtlas& atlas) : m_atlas(atlas), m_glyphs(atlas.glyphs.size()) {
    for (std::size_t g = 0; g < atlas.glyphs.size(); ++g) {
        const GlyphBitmap& bitmap = atlas.glyphs[g];
        m_glyphs[g].first_row = m_row_runs.size();
        if (bitmap.width == 0 || bitmap.height == 0 ||
            bitmap.coverage.size() < bitmap.width * bitmap.height)
            continue;
        // Placed in its cell as draw_cell places it.
        const PixelPoint offset = bitmap_offset(atlas, bitmap);
        PixelBox ink{
            std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max(),
            std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::min()};
        for (std::size_t j = 0; j < bitmap.height; ++j) {
            m_row_runs.push_back(static_cast<std::uint32_t>(m_runs.size()));
            const std::uint8_t* row = bitmap.coverage.data() + j * bitmap.width;
            for (std::size_t i = 0; i < bitmap.width;) {
                if (row[i] == 0) {
                    ++i;
                    continue;
                }
                const std::size_t begin = i;
                while (i < bitmap.width && row[i] != 0)
                    ++i;
                m_runs.push_back(
                    {static_cast<std::uint16_t>(begin), static_cast<std::uint16_t>(i)});
                const auto y = offset.y + static_cast<std::int64_t>(j);
                ink = {std::min(ink.x0, offset.x + static_cast<std::int64_t>(begin)),
                       std::min(ink.y0, y),
                       std::max(ink.x1, offset.x + static_cast<std::int64_t>(i)),
                       std::max(ink.y1, y + 1)};
            }
        }
        m_row_runs.push_back(static_cast<std::uint32_t>(m_runs.size()));
        if (ink.empty()) continue;
        m_glyphs[g].box = ink;
        m_reach = m_reach.empty()
                      ? ink
                      : PixelBox{std::min(m_reach.x0, ink.x0), std::min(m_reach.y0, ink.y0),
                                 std::max(m_reach.x1, ink.x1), std::max(m_reach.y1, ink.y1)};
    }
    m_inside_cell = m_reach.empty() || (m_reach.x0 >= 0 && m_reach.y0 >= 0 &&
                                        m_reach.x1 <= static_cast<std::int64_t>(atlas.cell_width) &&
                                        m_reach.y1 <= static_cast<std::int64_t>(atlas.cell_height));
}

void GlyphInk::draw_runs(std::size_t glyph, std::size_t j0, std::size_t j1, std::uint32_t* row,
                         std::int64_t stride, std::int64_t left, std::int64_t x0, std::int64_t x1,
                         const shading::ShadeTable& table) const noexcept {
    const GlyphBitmap& bitmap = m_atlas.glyphs[glyph];
    const std::uint32_t* const first_run = m_row_runs.data() + m_glyphs[glyph].first_row;
    const Run* const runs = m_runs.data();
    // The box less the bitmap's offset is the bitmap columns with ink; most cells need no clipping.
    const PixelBox& ink = m_glyphs[glyph].box;
    const std::int64_t offset = bitmap_offset(m_atlas, bitmap).x;
    const bool clipped = x0 - left > ink.x0 - offset || x1 - left < ink.x1 - offset;
    for (std::size_t j = j0; j < j1; ++j, row += stride) {
        const std::uint8_t* const coverage = bitmap.coverage.data() + j * bitmap.width;
        std::uint32_t* const dst = row + left;
        for (std::uint32_t r = first_run[j]; r < first_run[j + 1]; ++r) {
            std::int64_t begin = runs[r].begin, end = runs[r].end;
            if (clipped) {
                begin = std::max(begin, x0 - left);
                end = std::min(end, x1 - left);
            }
            for (std::int64_t i = begin; i < end; ++i)
                dst[i] = table[coverage[i]];
        }
    }
}

} // namespace glyphrain

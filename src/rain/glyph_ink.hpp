// SPDX-License-Identifier: MIT
// The glyphs' ink, indexed once at start-up: the box each glyph inks in its cell and its runs of
// non-zero coverage row by row, so that redrawing a glyph writes only the pixels it inks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "glyphs/glyph_atlas.hpp"
#include "rain/shading.hpp"

namespace glyphrain {

/// A half-open box of pixels [x0, x1) x [y0, y1); relative to a cell's corner or absolute.
struct PixelBox {
    std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const noexcept { return x0 >= x1 || y0 >= y1; }
};

/// Every glyph of an atlas as runs of ink. The atlas must outlive this object and stay unchanged.
class GlyphInk {
  public:
    explicit GlyphInk(const GlyphAtlas& atlas);

    /// Where glyph leaves ink, from its cell's corner; empty where it draws nothing, for a bitmap
    /// that is empty or too short and for an index past the atlas.
    const PixelBox& box(std::size_t glyph) const noexcept {
        return glyph < m_glyphs.size() ? m_glyphs[glyph].box : k_no_ink;
    }
    /// The union of every glyph's box.
    const PixelBox& reach() const noexcept { return m_reach; }
    /// No glyph leaves ink outside its own cell.
    bool inside_cell() const noexcept { return m_inside_cell; }

    /// Shades the runs of bitmap rows [j0, j1) of glyph (which has ink) that lie in the buffer's
    /// columns [x0, x1), bitmap row j0 landing on row (the next one stride pixels further) and
    /// bitmap column 0 on column left.
    void draw_runs(std::size_t glyph, std::size_t j0, std::size_t j1, std::uint32_t* row,
                   std::int64_t stride, std::int64_t left, std::int64_t x0, std::int64_t x1,
                   const shading::ShadeTable& table) const noexcept;

  private:
    static constexpr PixelBox k_no_ink{};
    // Bitmap columns [begin, end) of one row whose coverage is not 0.
    // Bitmaps are far narrower than 65536 pixels (the window is at most 1024).
    struct Run {
        std::uint16_t begin, end;
    };
    // The runs of bitmap row j are m_runs[m_row_runs[first_row + j]] up to
    // m_runs[m_row_runs[first_row + j + 1]].
    struct Glyph {
        PixelBox box;
        std::size_t first_row = 0;
    };

    const GlyphAtlas& m_atlas;
    std::vector<Glyph> m_glyphs;
    std::vector<std::uint32_t> m_row_runs; // per glyph and bitmap row, the first run's index
    std::vector<Run> m_runs;
    PixelBox m_reach;
    bool m_inside_cell = true;
};

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Partial composition: per-cell looks compared with what a buffer and the window hold; changed
// cells redrawn from their runs of ink, and their ink merged into one rectangle per column run.
#include "rain/partial_compositor.hpp"

#include <algorithm>
#include <bit>
#include <limits>

#include "display/geometry.hpp"

namespace glyphrain {

using namespace shading;

namespace {

// The look of a cell that draws nothing, so that two empty cells compare equal.
constexpr std::size_t k_no_glyph = std::numeric_limits<std::size_t>::max();
constexpr CellLook k_empty_cell{k_no_glyph, 0.0f, {0, 0, 0}};
// Slots of the shade table cache, addressed by the top 8 bits of a hash.
constexpr std::size_t k_cached_tables = 256;

} // namespace

PartialCompositor::PartialCompositor(const GlyphAtlas& atlas, std::size_t cols, std::size_t rows,
                                     std::size_t buffers)
    : m_atlas(atlas), m_cols(cols), m_rows(rows), m_ink(atlas.glyphs.size()), m_reach{},
      m_ink_in_cell(true), m_buffers(buffers), m_now(cols * rows, k_empty_cell),
      m_draw(cols * rows + 1), m_send(cols * rows + 1), m_sources(cols * rows),
      // Default-initialised arrays of plain integers: their pages are touched only when written.
      m_tables(new shading::ShadeTable[cols * rows]), m_cache_keys(k_cached_tables),
      m_cache_tables(new shading::ShadeTable[k_cached_tables]) {
    for (Shown& shown : m_buffers)
        shown.cells.assign(cols * rows, k_empty_cell);
    m_window.cells.assign(cols * rows, k_empty_cell);

    // Where each glyph leaves ink, from the cell's corner, placed as draw_cell places it, and its
    // runs of ink row by row: only pixels of non-zero coverage are ever written.
    for (std::size_t g = 0; g < atlas.glyphs.size(); ++g) {
        const GlyphBitmap& bitmap = atlas.glyphs[g];
        m_ink[g].first_row = m_row_runs.size();
        if (bitmap.width == 0 || bitmap.height == 0 ||
            bitmap.coverage.size() < bitmap.width * bitmap.height)
            continue;
        const std::int64_t left = bitmap.xmin;
        const std::int64_t top =
            atlas.ascent - bitmap.ymin - static_cast<std::int64_t>(bitmap.height) + 1;
        Box ink{std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max(),
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
                const auto y = top + static_cast<std::int64_t>(j);
                ink = {std::min(ink.x0, left + static_cast<std::int64_t>(begin)),
                       std::min(ink.y0, y), std::max(ink.x1, left + static_cast<std::int64_t>(i)),
                       std::max(ink.y1, y + 1)};
            }
        }
        m_row_runs.push_back(static_cast<std::uint32_t>(m_runs.size()));
        if (ink.empty()) continue;
        m_ink[g].box = ink;
        m_reach = m_reach.empty() ? ink
                                  : Box{std::min(m_reach.x0, ink.x0), std::min(m_reach.y0, ink.y0),
                                        std::max(m_reach.x1, ink.x1), std::max(m_reach.y1, ink.y1)};
    }
    m_ink_in_cell = m_reach.empty() || (m_reach.x0 >= 0 && m_reach.y0 >= 0 &&
                                        m_reach.x1 <= static_cast<std::int64_t>(atlas.cell_width) &&
                                        m_reach.y1 <= static_cast<std::int64_t>(atlas.cell_height));
}

void PartialCompositor::mark_all_changed() noexcept {
    for (Shown& shown : m_buffers)
        shown.known = false;
    m_window.known = false;
}

void PartialCompositor::mark_window_changed() noexcept {
    m_window.known = false;
}

bool PartialCompositor::matches(const Shown& shown, const FrameBuffer& buffer,
                                const BevelColors& bevel, bool lsb_first) const noexcept {
    return shown.known && shown.lsb_first == lsb_first && shown.width == buffer.width() &&
           shown.height == buffer.height() && shown.bevel == bevel;
}

void PartialCompositor::remember(Shown& shown, const FrameBuffer& buffer, const BevelColors& bevel,
                                 bool lsb_first) const noexcept {
    shown.known = true;
    shown.lsb_first = lsb_first;
    shown.width = buffer.width();
    shown.height = buffer.height();
    shown.bevel = bevel;
    std::ranges::copy(m_now, shown.cells.begin());
}

// Exactly the cells compose_frame draws, with the looks it draws them in.
void PartialCompositor::look_at(const RainState& rain, const Settings& settings) noexcept {
    std::ranges::fill(m_now, k_empty_cell);
    const auto rows = static_cast<std::int32_t>(m_rows);
    for (std::size_t col = 0; col < m_cols; ++col) {
        const RainColumn& column = rain.columns()[col];
        if (!column.active) continue;
        const std::int32_t first = std::max(0, column.head - column.length);
        const std::int32_t last = std::min(rows - 1, column.head);
        for (std::int32_t row = first; row <= last; ++row) {
            const std::size_t cell = static_cast<std::size_t>(row) * m_cols + col;
            m_now[cell] = drop_cell_look(column, row, rain.grid()[cell], settings);
        }
    }
}

PartialCompositor::Box PartialCompositor::ink_at(const CellLook& look, std::size_t col,
                                                 std::size_t row,
                                                 GridOffsets offsets) const noexcept {
    if (look.glyph >= m_ink.size() || m_ink[look.glyph].box.empty()) return {};
    const Box& ink = m_ink[look.glyph].box;
    const auto x = static_cast<std::int64_t>(offsets.x + col * m_atlas.cell_width);
    const auto y = static_cast<std::int64_t>(offsets.y) +
                   static_cast<std::int64_t>(row) * static_cast<std::int64_t>(m_atlas.cell_height);
    return {x + ink.x0, y + ink.y0, x + ink.x1, y + ink.y1};
}

// One rectangle per run of changed cells down a column: the union of each cell's ink before and
// after, inside the bevel, which never changes while the bevel colours stay.
std::size_t PartialCompositor::collect_changes(const Shown& shown, GridOffsets offsets, Box inside,
                                               std::vector<PixelRect>& rects) const noexcept {
    std::size_t count = 0;
    const auto unite = [](const Box& a, const Box& b) -> Box {
        if (a.empty()) return b;
        if (b.empty()) return a;
        return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1),
                std::max(a.y1, b.y1)};
    };
    const auto flush = [&](Box& run) {
        const Box clipped{std::max(run.x0, inside.x0), std::max(run.y0, inside.y0),
                          std::min(run.x1, inside.x1), std::min(run.y1, inside.y1)};
        if (!run.empty() && !clipped.empty())
            rects[count++] = {static_cast<std::uint32_t>(clipped.x0),
                              static_cast<std::uint32_t>(clipped.y0),
                              static_cast<std::uint32_t>(clipped.x1 - clipped.x0),
                              static_cast<std::uint32_t>(clipped.y1 - clipped.y0)};
        run = {};
    };
    for (std::size_t col = 0; col < m_cols; ++col) {
        Box run;
        for (std::size_t row = 0; row < m_rows; ++row) {
            const std::size_t cell = row * m_cols + col;
            const CellLook& before = shown.cells[cell];
            const CellLook& now = m_now[cell];
            if (before == now) {
                flush(run);
                continue;
            }
            run = unite(run,
                        unite(ink_at(before, col, row, offsets), ink_at(now, col, row, offsets)));
        }
        flush(run);
    }
    return count;
}

// Neighbouring columns' rectangles come one after the other; each is merged into the one before
// while the bounding box adds no more than a request costs.
std::size_t PartialCompositor::merge_sends(std::size_t count) noexcept {
    if (count == 0) return 0;
    std::size_t kept = 1;
    for (std::size_t i = 1; i < count; ++i) {
        PixelRect& last = m_send[kept - 1];
        const PixelRect& next = m_send[i];
        const std::uint64_t x0 = std::min(last.x, next.x), y0 = std::min(last.y, next.y);
        const std::uint64_t x1 = std::max(last.x + last.width, next.x + next.width);
        const std::uint64_t y1 = std::max(last.y + last.height, next.y + next.height);
        const std::uint64_t both =
            std::uint64_t{last.width} * last.height + std::uint64_t{next.width} * next.height;
        const std::uint64_t area = (x1 - x0) * (y1 - y0);
        if (area <= both || area - both <= m_request_cost)
            last = {static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(y0),
                    static_cast<std::uint32_t>(x1 - x0), static_cast<std::uint32_t>(y1 - y0)};
        else
            m_send[kept++] = next;
    }
    return kept;
}

const ShadeTable& PartialCompositor::table_for(const CellLook& look, bool lsb_first) noexcept {
    // The byte order is fixed for a run, so it is checked but not hashed.
    const std::uint64_t key = std::uint64_t{std::bit_cast<std::uint32_t>(look.fade)} << 24 ^
                              std::uint64_t{look.color.r} << 16 ^ std::uint64_t{look.color.g} << 8 ^
                              look.color.b;
    static_assert(k_cached_tables == 256, "the slot is the hash's top byte");
    const std::size_t slot = (key * 0x9E3779B97F4A7C15ull) >> 56;
    CachedKey& cached = m_cache_keys[slot];
    ShadeTable& table = m_cache_tables[slot];
    if (!cached.filled || cached.fade != look.fade || cached.color != look.color ||
        cached.lsb_first != lsb_first) {
        fill_shade_table(table, paint_of(look, lsb_first));
        cached.filled = true;
        cached.lsb_first = lsb_first;
        cached.fade = look.fade;
        cached.color = look.color;
    }
    return table;
}

// Shades the runs of bitmap rows [j0, j1) of glyph that lie in the window's columns [x0, x1),
// bitmap row j0 landing on row (the next one stride pixels further) and column 0 on left.
void PartialCompositor::draw_runs(std::size_t glyph, std::size_t j0, std::size_t j1,
                                  std::uint32_t* row, std::int64_t stride, std::int64_t left,
                                  std::int64_t x0, std::int64_t x1,
                                  const ShadeTable& table) const noexcept {
    const GlyphBitmap& bitmap = m_atlas.glyphs[glyph];
    const std::uint32_t* const first_run = m_row_runs.data() + m_ink[glyph].first_row;
    const Run* const runs = m_runs.data();
    // Bitmap columns with ink are [box.x0 - xmin, box.x1 - xmin); most cells need no clipping.
    const Box& ink = m_ink[glyph].box;
    const bool clipped = x0 - left > ink.x0 - bitmap.xmin || x1 - left < ink.x1 - bitmap.xmin;
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

// When every glyph keeps its ink inside its cell and the grid lies inside the bevel, a cell's
// pixels depend on its own look alone: a changed glyph's old ink is cleared and the new ink is
// written run by run; a glyph that only changed fade or colour is just shaded again.
void PartialCompositor::redraw_cells(FrameBuffer& buffer, const Shown& shown, GridOffsets offsets,
                                     bool lsb_first) noexcept {
    const auto width = static_cast<std::int64_t>(buffer.width());
    std::uint32_t* const pixels = buffer.pixels().data();
    for (std::size_t row = 0; row < m_rows; ++row)
        for (std::size_t col = 0; col < m_cols; ++col) {
            const std::size_t cell = row * m_cols + col;
            const CellLook& before = shown.cells[cell];
            const CellLook& now = m_now[cell];
            if (before == now) continue;
            if (before.glyph != now.glyph) {
                const Box old = ink_at(before, col, row, offsets);
                for (std::int64_t y = old.y0; y < old.y1; ++y)
                    std::fill(pixels + y * width + old.x0, pixels + y * width + old.x1, 0u);
            }
            const Box ink = ink_at(now, col, row, offsets);
            if (ink.empty()) continue;
            const GlyphBitmap& bitmap = m_atlas.glyphs[now.glyph];
            const std::int64_t left = ink.x0 - m_ink[now.glyph].box.x0 + bitmap.xmin;
            const std::int64_t top = ink.y0 - m_ink[now.glyph].box.y0 + m_atlas.ascent -
                                     bitmap.ymin - static_cast<std::int64_t>(bitmap.height) + 1;
            draw_runs(now.glyph, static_cast<std::size_t>(ink.y0 - top),
                      static_cast<std::size_t>(ink.y1 - top), pixels + ink.y0 * width, width, left,
                      ink.x0, ink.x1, table_for(now, lsb_first));
        }
}

// Sets every pixel of rect to what compose_frame gives it: black, then the ink of each cell that
// reaches into rect, in drawing order, row by row while the row is in the cache.
void PartialCompositor::recompose(FrameBuffer& buffer, const PixelRect& rect, GridOffsets offsets,
                                  bool lsb_first) noexcept {
    const Box area{rect.x, rect.y, static_cast<std::int64_t>(rect.x) + rect.width,
                   static_cast<std::int64_t>(rect.y) + rect.height};
    std::size_t count = 0;
    for (std::size_t col = 0; col < m_cols; ++col) {
        const auto x = static_cast<std::int64_t>(offsets.x + col * m_atlas.cell_width);
        if (x + m_reach.x1 <= area.x0 || x + m_reach.x0 >= area.x1) continue;
        for (std::size_t row = 0; row < m_rows; ++row) {
            const CellLook& look = m_now[row * m_cols + col];
            const Box ink = ink_at(look, col, row, offsets);
            const Box box{std::max(ink.x0, area.x0), std::max(ink.y0, area.y0),
                          std::min(ink.x1, area.x1), std::min(ink.y1, area.y1)};
            if (ink.empty() || box.empty()) continue;
            const GlyphBitmap& bitmap = m_atlas.glyphs[look.glyph];
            const std::int64_t y = static_cast<std::int64_t>(offsets.y) +
                                   static_cast<std::int64_t>(row) * m_atlas.cell_height;
            // A copy: another source's look may take the same slot of the cache.
            m_tables[count] = table_for(look, lsb_first);
            m_sources[count++] = {look.glyph, x + bitmap.xmin,
                                  y + m_atlas.ascent - bitmap.ymin -
                                      static_cast<std::int64_t>(bitmap.height) + 1,
                                  box};
        }
    }

    const auto width = static_cast<std::int64_t>(buffer.width());
    std::uint32_t* const pixels = buffer.pixels().data();
    for (std::int64_t y = area.y0; y < area.y1; ++y) {
        std::uint32_t* const row = pixels + y * width;
        std::fill(row + area.x0, row + area.x1, 0u);
        for (std::size_t k = 0; k < count; ++k) {
            const Source& source = m_sources[k];
            if (y < source.box.y0 || y >= source.box.y1) continue;
            const auto j = static_cast<std::size_t>(y - source.top);
            draw_runs(source.glyph, j, j + 1, row, width, source.left, source.box.x0, source.box.x1,
                      m_tables[k]);
        }
    }
}

std::span<const PixelRect>
PartialCompositor::compose_changed(FrameBuffer& buffer, std::size_t index, const RainState& rain,
                                   const Settings& settings, bool lsb_first) noexcept {
    const std::size_t width = buffer.width(), height = buffer.height();
    const PixelRect whole{0, 0, static_cast<std::uint32_t>(width),
                          static_cast<std::uint32_t>(height)};
    m_send_count = width == 0 || height == 0 ? 0 : 1;
    m_send[0] = whole;
    if (rain.cols() != m_cols || rain.rows() != m_rows) {
        // Not the rain this object was made for: nothing it remembers applies.
        compose_frame(buffer, rain, m_atlas, settings, lsb_first);
        mark_all_changed();
        return {m_send.data(), m_send_count};
    }

    const BevelColors bevel = bevel_colors_for(settings.theme);
    const GridOffsets offsets = grid_offsets(width, height, m_cols, m_rows, m_atlas);
    constexpr std::int64_t frame = k_frame_px;
    const Box inside{frame, frame, static_cast<std::int64_t>(width) - frame,
                     static_cast<std::int64_t>(height) - frame};
    look_at(rain, settings);

    Shown* const shown = index < m_buffers.size() ? &m_buffers[index] : nullptr;
    const auto grid_width = static_cast<std::int64_t>(m_cols * m_atlas.cell_width);
    const auto grid_height = static_cast<std::int64_t>(m_rows) * m_atlas.cell_height;
    const bool grid_inside = static_cast<std::int64_t>(offsets.x) >= inside.x0 &&
                             static_cast<std::int64_t>(offsets.y) >= inside.y0 &&
                             static_cast<std::int64_t>(offsets.x) + grid_width <= inside.x1 &&
                             static_cast<std::int64_t>(offsets.y) + grid_height <= inside.y1;
    if (shown && matches(*shown, buffer, bevel, lsb_first)) {
        if (m_ink_in_cell && grid_inside) {
            redraw_cells(buffer, *shown, offsets, lsb_first);
        } else {
            const std::size_t count = collect_changes(*shown, offsets, inside, m_draw);
            for (std::size_t i = 0; i < count; ++i)
                recompose(buffer, m_draw[i], offsets, lsb_first);
        }
    } else {
        compose_frame(buffer, rain, m_atlas, settings, lsb_first);
    }
    if (shown) remember(*shown, buffer, bevel, lsb_first);

    if (matches(m_window, buffer, bevel, lsb_first))
        m_send_count = merge_sends(collect_changes(m_window, offsets, inside, m_send));
    remember(m_window, buffer, bevel, lsb_first);
    return {m_send.data(), m_send_count};
}

} // namespace glyphrain

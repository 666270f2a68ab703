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
    : m_atlas(atlas), m_cols(cols), m_rows(rows), m_ink(atlas), m_buffers(buffers),
      m_now(cols * rows, k_empty_cell), m_draw(cols * rows + 1), m_send(cols * rows + 1),
      m_sources(cols * rows),
      // Default-initialised arrays of plain integers: their pages are touched only when written.
      m_tables(new shading::ShadeTable[cols * rows]), m_cache_keys(k_cached_tables),
      m_cache_tables(new shading::ShadeTable[k_cached_tables]) {
    for (Shown& shown : m_buffers)
        shown.cells.assign(cols * rows, k_empty_cell);
    m_window.cells.assign(cols * rows, k_empty_cell);
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
    for_each_drop_cell(rain, settings,
                       [this](std::size_t col, std::size_t row, const CellLook& look) {
                           m_now[row * m_cols + col] = look;
                       });
}

PixelBox PartialCompositor::ink_at(const CellLook& look, std::size_t col, std::size_t row,
                                   GridOffsets offsets) const noexcept {
    const PixelBox& ink = m_ink.box(look.glyph);
    if (ink.empty()) return {};
    const PixelPoint corner = cell_corner(m_atlas, offsets, col, row);
    return {corner.x + ink.x0, corner.y + ink.y0, corner.x + ink.x1, corner.y + ink.y1};
}

// One rectangle per run of changed cells down a column: the union of each cell's ink before and
// after, inside the bevel, which never changes while the bevel colours stay.
std::size_t PartialCompositor::collect_changes(const Shown& shown, GridOffsets offsets,
                                               PixelBox inside,
                                               std::vector<PixelRect>& rects) const noexcept {
    std::size_t count = 0;
    const auto unite = [](const PixelBox& a, const PixelBox& b) -> PixelBox {
        if (a.empty()) return b;
        if (b.empty()) return a;
        return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1),
                std::max(a.y1, b.y1)};
    };
    const auto flush = [&](PixelBox& run) {
        const PixelBox clipped{std::max(run.x0, inside.x0), std::max(run.y0, inside.y0),
                               std::min(run.x1, inside.x1), std::min(run.y1, inside.y1)};
        if (!run.empty() && !clipped.empty())
            rects[count++] = {static_cast<std::uint32_t>(clipped.x0),
                              static_cast<std::uint32_t>(clipped.y0),
                              static_cast<std::uint32_t>(clipped.x1 - clipped.x0),
                              static_cast<std::uint32_t>(clipped.y1 - clipped.y0)};
        run = {};
    };
    for (std::size_t col = 0; col < m_cols; ++col) {
        PixelBox run;
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
                const PixelBox old = ink_at(before, col, row, offsets);
                for (std::int64_t y = old.y0; y < old.y1; ++y)
                    std::fill(pixels + y * width + old.x0, pixels + y * width + old.x1, 0u);
            }
            const PixelBox ink = ink_at(now, col, row, offsets);
            if (ink.empty()) continue;
            const PixelPoint origin =
                bitmap_origin(m_atlas, m_atlas.glyphs[now.glyph], offsets, col, row);
            m_ink.draw_runs(now.glyph, static_cast<std::size_t>(ink.y0 - origin.y),
                            static_cast<std::size_t>(ink.y1 - origin.y), pixels + ink.y0 * width,
                            width, origin.x, ink.x0, ink.x1, table_for(now, lsb_first));
        }
}

// Sets every pixel of rect to what compose_frame gives it: black, then the ink of each cell that
// reaches into rect, in drawing order, row by row while the row is in the cache.
void PartialCompositor::recompose(FrameBuffer& buffer, const PixelRect& rect, GridOffsets offsets,
                                  bool lsb_first) noexcept {
    const PixelBox area{rect.x, rect.y, static_cast<std::int64_t>(rect.x) + rect.width,
                        static_cast<std::int64_t>(rect.y) + rect.height};
    const PixelBox& reach = m_ink.reach();
    std::size_t count = 0;
    for (std::size_t col = 0; col < m_cols; ++col) {
        const std::int64_t x = cell_corner(m_atlas, offsets, col, 0).x;
        if (x + reach.x1 <= area.x0 || x + reach.x0 >= area.x1) continue;
        for (std::size_t row = 0; row < m_rows; ++row) {
            const CellLook& look = m_now[row * m_cols + col];
            const PixelBox ink = ink_at(look, col, row, offsets);
            const PixelBox box{std::max(ink.x0, area.x0), std::max(ink.y0, area.y0),
                               std::min(ink.x1, area.x1), std::min(ink.y1, area.y1)};
            if (ink.empty() || box.empty()) continue;
            // A copy: another source's look may take the same slot of the cache.
            m_tables[count] = table_for(look, lsb_first);
            m_sources[count++] = {
                look.glyph, bitmap_origin(m_atlas, m_atlas.glyphs[look.glyph], offsets, col, row),
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
            const auto j = static_cast<std::size_t>(y - source.origin.y);
            m_ink.draw_runs(source.glyph, j, j + 1, row, width, source.origin.x, source.box.x0,
                            source.box.x1, m_tables[k]);
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
    const PixelBox inside{frame, frame, static_cast<std::int64_t>(width) - frame,
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
        if (m_ink.inside_cell() && grid_inside) {
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

// SPDX-License-Identifier: MIT
// The frame compositor: clear, glyph cells shaded by their fade, then the sunken bevel.
#include "rain/compositor.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <stdexcept>

#include "rain/placement.hpp"
#include "rain/shading.hpp"

namespace glyphrain {

using namespace shading;

namespace {

constexpr BevelColors k_default_bevel{{30, 30, 30}, {55, 55, 55}, {120, 120, 120}, {160, 160, 160}};
constexpr BevelColors k_zenburn_bevel{{35, 32, 28}, {60, 55, 48}, {130, 118, 100}, {160, 145, 125}};

// One channel of a bevel ring: outer + (inner - outer) * t, clamped and truncated.
inline std::uint8_t mix_channel(std::uint8_t outer, std::uint8_t inner, float t) noexcept {
    const float value =
        static_cast<float>(outer) + (static_cast<float>(inner) - static_cast<float>(outer)) * t;
    return static_cast<std::uint8_t>(std::min(std::max(value, 0.0f), 255.0f));
}

Rgb mix(Rgb outer, Rgb inner, float t) noexcept {
    return {mix_channel(outer.r, inner.r, t), mix_channel(outer.g, inner.g, t),
            mix_channel(outer.b, inner.b, t)};
}

// Writes pixel over the inclusive ranges [x_first, x_last] x [y_first, y_last], clipped.
void fill_rect(FrameBuffer& buffer, std::int64_t x_first, std::int64_t x_last, std::int64_t y_first,
               std::int64_t y_last, std::uint32_t pixel) noexcept {
    const auto width = static_cast<std::int64_t>(buffer.width());
    const auto height = static_cast<std::int64_t>(buffer.height());
    x_first = std::max<std::int64_t>(x_first, 0);
    y_first = std::max<std::int64_t>(y_first, 0);
    x_last = std::min(x_last, width - 1);
    y_last = std::min(y_last, height - 1);
    for (std::int64_t y = y_first; y <= y_last; ++y)
        for (std::int64_t x = x_first; x <= x_last; ++x)
            buffer.pixels()[static_cast<std::size_t>(y * width + x)] = pixel;
}

} // namespace

FrameBuffer::FrameBuffer(std::size_t width, std::size_t height)
    : m_width(width), m_height(height),
      m_owned(static_cast<std::uint32_t*>(
          std::calloc(std::max<std::size_t>(width * height, 1), sizeof(std::uint32_t)))) {
    if (!m_owned) throw std::bad_alloc();
    m_pixels = {m_owned.get(), width * height};
}

FrameBuffer::FrameBuffer(std::size_t width, std::size_t height, std::span<std::uint8_t> memory)
    : m_width(width), m_height(height) {
    if (memory.size() != width * height * 4 ||
        reinterpret_cast<std::uintptr_t>(memory.data()) % alignof(std::uint32_t) != 0)
        throw std::invalid_argument("frame memory has the wrong size or alignment");
    m_pixels = {reinterpret_cast<std::uint32_t*>(memory.data()), width * height};
}

BevelColors bevel_colors_for(const std::optional<std::string>& theme) noexcept {
    return theme && is_zenburn(*theme) ? k_zenburn_bevel : k_default_bevel;
}

GridOffsets grid_offsets(std::size_t width, std::size_t height, std::size_t cols, std::size_t rows,
                         const GlyphAtlas& atlas) noexcept {
    const std::size_t used_width = cols * atlas.cell_width;
    const std::int64_t used_height =
        static_cast<std::int64_t>(rows) * static_cast<std::int64_t>(atlas.cell_height);
    GridOffsets offsets;
    if (used_width <= width) offsets.x = (width - used_width) / 2;
    if (used_height >= 0 && static_cast<std::size_t>(used_height) <= height)
        offsets.y = (height - static_cast<std::size_t>(used_height)) / 2;
    return offsets;
}

float trail_fade(std::int32_t d, std::int32_t length) noexcept {
    const float ratio = static_cast<float>(d) / static_cast<float>(length);
    return std::cbrt(1.0f - ratio) * 0.8f + 0.2f;
}

std::uint32_t pack_pixel(Rgb color, bool lsb_first) noexcept {
    const ChannelShifts shifts = channel_shifts(lsb_first);
    return std::uint32_t{color.r} << shifts.r | std::uint32_t{color.g} << shifts.g |
           std::uint32_t{color.b} << shifts.b;
}

void draw_cell(FrameBuffer& buffer, const GlyphAtlas& atlas, std::size_t glyph, std::size_t col,
               std::size_t row, float fade, Rgb color, bool lsb_first,
               GridOffsets offsets) noexcept {
    if (glyph >= atlas.glyphs.size()) return;
    const GlyphBitmap& bitmap = atlas.glyphs[glyph];
    if (bitmap.width == 0 || bitmap.height == 0) return;
    if (bitmap.coverage.size() < bitmap.width * bitmap.height) return;

    const PixelPoint origin = bitmap_origin(atlas, bitmap, offsets, col, row);
    const std::int64_t x0 = origin.x, y0 = origin.y;

    // Clip once to the bitmap columns [i0, i1) and rows [j0, j1) that land inside the buffer.
    const auto width = static_cast<std::int64_t>(buffer.width());
    const auto bitmap_width = static_cast<std::int64_t>(bitmap.width);
    const std::int64_t i0 = std::max<std::int64_t>(0, -x0);
    const std::int64_t i1 = std::min(bitmap_width, width - x0);
    const std::int64_t j0 = std::max<std::int64_t>(0, -y0);
    const std::int64_t j1 = std::min(static_cast<std::int64_t>(bitmap.height),
                                     static_cast<std::int64_t>(buffer.height()) - y0);
    if (i0 >= i1 || j0 >= j1) return;

    const CellPaint paint{fade, static_cast<float>(color.r), static_cast<float>(color.g),
                          static_cast<float>(color.b), channel_shifts(lsb_first)};
    const auto src_row = [&](std::int64_t j) {
        return bitmap.coverage.data() + j * bitmap_width + i0;
    };
    const auto dst_row = [&](std::int64_t j) {
        return buffer.pixels().data() + (y0 + j) * width + x0 + i0;
    };
    if ((i1 - i0) * (j1 - j0) >= k_table_min_pixels) {
        ShadeTable table;
        fill_shade_table(table, paint);
        for (std::int64_t j = j0; j < j1; ++j)
            copy_row(src_row(j), dst_row(j), i1 - i0, table);
    } else {
        for (std::int64_t j = j0; j < j1; ++j)
            shade_row(src_row(j), dst_row(j), i1 - i0, paint);
    }
}

void draw_bevel(FrameBuffer& buffer, bool lsb_first, const BevelColors& colors) noexcept {
    constexpr std::size_t rings = k_bevel_rings;
    std::array<std::uint32_t, rings> shadow{}, light{};
    for (std::size_t ring = 0; ring < rings; ++ring) {
        const float t = static_cast<float>(ring) / 3.0f;
        shadow[ring] = pack_pixel(mix(colors.shadow_outer, colors.shadow_inner, t), lsb_first);
        light[ring] = pack_pixel(mix(colors.light_outer, colors.light_inner, t), lsb_first);
    }

    const std::size_t w = buffer.width(), h = buffer.height();
    if (w < 2 * rings || h < 2 * rings) {
        // Rings overlap in a buffer this small: draw the edges one by one in their order, which
        // leaves the top-right and bottom-left corners light.
        const auto right = static_cast<std::int64_t>(w) - 1;
        const auto bottom = static_cast<std::int64_t>(h) - 1;
        for (std::size_t ring = 0; ring < rings; ++ring) {
            const auto i = static_cast<std::int64_t>(ring);
            fill_rect(buffer, i, right - i, i, i, shadow[ring]);
            fill_rect(buffer, i, i, i, bottom - i, shadow[ring]);
            fill_rect(buffer, i, right - i, bottom - i, bottom - i, light[ring]);
            fill_rect(buffer, right - i, right - i, i, bottom - i, light[ring]);
        }
        return;
    }

    // Otherwise the rings are disjoint and the same result is written row by row, touching each
    // row once: left edges shadow, right edges light, and the top (shadow) or bottom (light) edge
    // across the middle of the first and last rows.
    for (std::size_t y = 0; y < h; ++y) {
        std::uint32_t* row = buffer.pixels().data() + y * w;
        const bool top = y < rings;
        const bool bottom = y >= h - rings;
        const std::size_t outer = top ? y : bottom ? h - 1 - y : rings;
        for (std::size_t x = 0; x < outer; ++x) {
            row[x] = shadow[x];
            row[w - 1 - x] = light[x];
        }
        if (top) {
            std::fill(row + outer, row + w - 1 - outer, shadow[outer]);
            row[w - 1 - outer] = light[outer];
        } else if (bottom) {
            std::fill(row + outer, row + w - outer, light[outer]);
        }
    }
}

void compose_frame(FrameBuffer& buffer, const RainState& rain, const GlyphAtlas& atlas,
                   const Settings& settings, bool lsb_first) noexcept {
    std::ranges::fill(buffer.bytes(), std::uint8_t{0});
    const GridOffsets offsets =
        grid_offsets(buffer.width(), buffer.height(), rain.cols(), rain.rows(), atlas);
    for_each_drop_cell(rain, settings, [&](std::size_t col, std::size_t row, const CellLook& look) {
        draw_cell(buffer, atlas, look.glyph, col, row, look.fade, look.color, lsb_first, offsets);
    });
    draw_bevel(buffer, lsb_first, bevel_colors_for(settings.theme));
}

} // namespace glyphrain

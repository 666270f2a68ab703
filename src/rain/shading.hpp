// SPDX-License-Identifier: MIT
// The one shading rule of the full and the partial compositor: which cells a drop covers, each
// cell's glyph, fade and colour, and how a coverage byte becomes a pixel word. Rain-internal.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "config/settings.hpp"
#include "rain/rain_state.hpp"

namespace glyphrain {

float trail_fade(std::int32_t d, std::int32_t length) noexcept;

namespace shading {

// Bit positions of red, green and blue in a pixel word whose bytes in memory follow the server's
// byte order (B, G, R, 0 or 0, R, G, B) on this host.
struct ChannelShifts {
    unsigned r, g, b;
};

constexpr ChannelShifts channel_shifts(bool lsb_first) noexcept {
    const bool little_host = std::endian::native == std::endian::little;
    return lsb_first == little_host ? ChannelShifts{16, 8, 0} : ChannelShifts{8, 16, 24};
}

// A channel value already in 0..255 after clamping, truncated toward zero.
inline std::uint32_t clamp_channel(float value) noexcept {
    return static_cast<std::uint32_t>(
        static_cast<std::int32_t>(std::min(std::max(value, 0.0f), 255.0f)));
}

// What one cell of a drop shows: its glyph at a fade in a colour.
struct CellLook {
    std::size_t glyph;
    float fade;
    Rgb color;
    friend bool operator==(const CellLook&, const CellLook&) = default;
};

// The look of a row of an active column's drop, head - length <= row <= head.
inline CellLook drop_cell_look(const RainColumn& column, std::int32_t row, std::size_t glyph,
                               const Settings& settings) noexcept {
    const std::int32_t d = column.head - row;
    if (d == 0) return {glyph, 1.0f, settings.color};
    return {glyph, trail_fade(d, column.length), settings.trail_color};
}

// Calls visit(col, row, look) for every cell a drop covers, in drawing order: column by column,
// each top to bottom. A drop covers rows head - length to head; only those on the grid count.
template <class Visit>
inline void for_each_drop_cell(const RainState& rain, const Settings& settings,
                               Visit&& visit) noexcept {
    const auto rows = static_cast<std::int32_t>(rain.rows());
    const std::size_t cols = rain.cols();
    for (std::size_t col = 0; col < cols; ++col) {
        const RainColumn& column = rain.columns()[col];
        if (!column.active) continue;
        const std::int32_t first = std::max(0, column.head - column.length);
        const std::int32_t last = std::min(rows - 1, column.head);
        for (std::int32_t row = first; row <= last; ++row) {
            const auto r = static_cast<std::size_t>(row);
            visit(col, r, drop_cell_look(column, row, rain.grid()[r * cols + col], settings));
        }
    }
}

// The cell's colour as floats, with where each channel goes in the word.
struct CellPaint {
    float fade;
    float r, g, b;
    ChannelShifts shifts;
};

inline CellPaint paint_of(const CellLook& look, bool lsb_first) noexcept {
    return {look.fade, static_cast<float>(look.color.r), static_cast<float>(look.color.g),
            static_cast<float>(look.color.b), channel_shifts(lsb_first)};
}

// cov / 255 for every coverage byte, computed at compile time with the same IEEE division.
inline constexpr std::array<float, 256> k_coverage_fraction = [] {
    std::array<float, 256> fractions{};
    for (std::size_t cov = 0; cov < fractions.size(); ++cov)
        fractions[cov] = static_cast<float>(cov) / 255.0f;
    return fractions;
}();

// w = (cov / 255) * fade, then each channel w * c, clamped and truncated: the one shading rule.
// Coverage 0 gives 0, the background.
inline std::uint32_t shade_pixel(std::size_t cov, const CellPaint& paint) noexcept {
    const float w = k_coverage_fraction[cov] * paint.fade;
    return (clamp_channel(w * paint.r) << paint.shifts.r) |
           (clamp_channel(w * paint.g) << paint.shifts.g) |
           (clamp_channel(w * paint.b) << paint.shifts.b);
}

// From this many visible bitmap pixels on, shading all 256 levels once (a loop the compiler
// vectorizes) and then copying words is cheaper than shading every inked pixel.
inline constexpr std::int64_t k_table_min_pixels = 256;

using ShadeTable = std::array<std::uint32_t, 256>;

inline void fill_shade_table(ShadeTable& table, const CellPaint& paint) noexcept {
    for (std::size_t cov = 0; cov < table.size(); ++cov)
        table[cov] = shade_pixel(cov, paint);
}

// Coverage 0 keeps the old word; selecting instead of branching avoids mispredictions at the
// anti-aliased edges and writes the same pixels.
inline void copy_row(const std::uint8_t* coverage, std::uint32_t* dst, std::int64_t count,
                     const ShadeTable& table) noexcept {
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint8_t cov = coverage[i];
        const std::uint32_t old = dst[i];
        dst[i] = cov != 0 ? table[cov] : old;
    }
}

inline void shade_row(const std::uint8_t* coverage, std::uint32_t* dst, std::int64_t count,
                      const CellPaint& paint) noexcept {
    for (std::int64_t i = 0; i < count; ++i)
        if (coverage[i] != 0) dst[i] = shade_pixel(coverage[i], paint);
}

} // namespace shading
} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The kana glyph set, the cell and grid arithmetic, and the build of the mirrored glyph atlas.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "glyphs/font.hpp"
#include "glyphs/glyph_atlas.hpp"

namespace glyphrain {

/// Code point of glyph index 0..171: U+3041..U+3096, then U+30A1..U+30F6.
constexpr char32_t glyph_code_point(std::size_t index) noexcept {
    return index < 86 ? static_cast<char32_t>(0x3041 + index)
                      : static_cast<char32_t>(0x30A1 + (index - 86));
}

/// Pixels per em for a window edge: size / 96 * 9, in single precision and in that order.
float font_px_for(std::uint64_t size) noexcept;

/// The font's ascender and descender in font units (descender negative below the baseline).
struct VerticalMetrics {
    std::int32_t ascender = 0;
    std::int32_t descender = 0;
};

struct LineMetrics {
    std::int32_t ascent = 0; // whole pixels from the cell top down to the baseline
    float descent = 0;       // pixels below the baseline, positive when the font descends
};

/// Scales the font's metrics to font_px; a font without them gets ascent = ceil(font_px) and
/// descent = 0.3 * font_px.
LineMetrics line_metrics(std::optional<VerticalMetrics> font_units, float units_per_em,
                         float font_px) noexcept;

/// ascent + ceil(descent) in 32-bit arithmetic; a sum of zero or below becomes 1.
std::ptrdiff_t cell_height_of(LineMetrics metrics) noexcept;

/// Where a glyph's mirrored bitmap starts inside its advance box [0, adv): adv - (left + width),
/// in wrapping 32-bit arithmetic.
std::int32_t mirrored_xmin(std::size_t advance, std::int32_t left, std::size_t width) noexcept;

/// Reverses the bytes of each of the height rows of width bytes in place.
void mirror_rows(std::span<std::uint8_t> coverage, std::size_t width, std::size_t height) noexcept;

/// Fills in cols and rows: how many cells fit inside the window less its frame (k_frame_px).
void fit_grid(AtlasBuild& build, std::uint64_t size) noexcept;

/// How many of the 172 kana the font's character map does not cover (they would be drawn with
/// its glyph 0, usually an empty box).
std::size_t count_missing_kana(const LoadedFont& font) noexcept;

/// Rasterizes and mirrors the 172 kana at font_px_for(size) and fits the grid into the window.
/// Prints the grid summary line unless quiet. Never fails: glyphs the font lacks come from its
/// glyph 0, and glyphs it cannot load or that would be larger than the window carry no ink.
AtlasBuild build_atlas(const LoadedFont& font, std::uint64_t size, bool quiet);

} // namespace glyphrain

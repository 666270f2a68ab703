// SPDX-License-Identifier: MIT
// Arbitrary bytes as a font file: loading and atlas building never crash, every bitmap holds
// exactly its declared pixels, and every placement stays inside 32-bit arithmetic.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>

#include "glyphs/atlas_builder.hpp"
#include "glyphs/font.hpp"
#include "system/error.hpp"

namespace {

using namespace glyphrain;

// The first input byte picks the window size: the smallest, a non-multiple of 96, a middling
// one and the largest, so bitmaps are checked against every kind of edge limit.
constexpr std::array<std::uint64_t, 4> k_sizes = {96, 100, 200, 1024};

bool fits_i32(std::int64_t value) {
    return value >= std::numeric_limits<std::int32_t>::min() &&
           value <= std::numeric_limits<std::int32_t>::max();
}

/// The compositor's top-left corner of a bitmap, x0 = x_off + col * cell_width + xmin and
/// y0 = y_off + row * cell_height + ascent - ymin - height + 1, at both ends of the grid.
void check_placement(const AtlasBuild& build, const GlyphBitmap& bitmap, std::uint64_t size) {
    const GlyphAtlas& atlas = build.atlas;
    const auto span = static_cast<std::int64_t>(size); // offsets plus cells never pass the edge
    const std::int64_t x_low = bitmap.xmin;
    const std::int64_t y_low =
        std::int64_t{atlas.ascent} - bitmap.ymin - static_cast<std::int64_t>(bitmap.height) + 1;
    for (std::int64_t v : {x_low, x_low + span, y_low, y_low + span})
        if (!fits_i32(v)) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint64_t window = k_sizes[data[0] % k_sizes.size()];
    std::optional<LoadedFont> font;
    try {
        font.emplace(load_font(FontBytes(data + 1, data + size)));
    } catch (const AppError&) {
        return 0; // not a usable font: reported to the user, nothing more to check
    }

    const AtlasBuild build = build_atlas(*font, window, true);
    const GlyphAtlas& atlas = build.atlas;
    if (atlas.glyphs.size() != k_glyph_count) std::abort();
    if (atlas.cell_width < 1 || atlas.cell_height < 1) std::abort();
    for (const GlyphBitmap& bitmap : atlas.glyphs) {
        if (bitmap.coverage.size() != bitmap.width * bitmap.height) std::abort();
        if (bitmap.width > window || bitmap.height > window) std::abort();
    }
    // The program refuses a grid without a column or with fewer than two rows; any other grid
    // is drawn, so its cells must lie inside the window and its placements inside 32 bits.
    if (build.cols < 1 || build.rows < 2) return 0;
    if (build.cols * atlas.cell_width > window - 8) std::abort();
    if (build.rows * static_cast<std::uint64_t>(atlas.cell_height) > window - 8) std::abort();
    for (const GlyphBitmap& bitmap : atlas.glyphs)
        check_placement(build, bitmap, window);
    return 0;
}

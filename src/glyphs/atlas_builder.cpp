// SPDX-License-Identifier: MIT
// Rasterizing the kana with FreeType in unhinted font units scaled by hand, so that the metrics
// follow one float convention, then mirroring each bitmap inside its advance box.
#include "glyphs/atlas_builder.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BBOX_H
#include FT_OUTLINE_H

#include "display/geometry.hpp"
#include "glyphs/saturate.hpp"
#include "system/print.hpp"

namespace glyphrain {
namespace {

/// One glyph as the font draws it, before mirroring.
struct Raster {
    std::vector<std::uint8_t> coverage; // width * height bytes, top row first
    std::size_t width = 0;
    std::size_t height = 0;
    std::int32_t left = 0;   // bitmap's left edge from the origin, whole pixels
    std::int32_t bottom = 0; // bitmap's bottom edge above the baseline, whole pixels
    float advance = 0;       // pixels
};

/// Renders the glyph of code_point at scale pixels per font unit. A glyph that cannot be loaded,
/// has no outline, or whose bitmap would exceed max_edge pixels on a side comes back without ink.
Raster rasterize(FT_Library library, FT_Face face, char32_t code_point, float scale,
                 std::size_t max_edge) {
    Raster r;
    FT_UInt index = FT_Get_Char_Index(face, code_point);
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP))
        return r;
    FT_GlyphSlot slot = face->glyph;
    r.advance = static_cast<float>(slot->metrics.horiAdvance) * scale;
    FT_Outline& outline = slot->outline;
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE || outline.n_points <= 0) return r;

    FT_BBox box{};
    if (FT_Outline_Get_BBox(&outline, &box)) return r;
    const float xmin = static_cast<float>(box.xMin) * scale;
    const float ymin = static_cast<float>(box.yMin) * scale;
    const float width = static_cast<float>(box.xMax - box.xMin) * scale;
    const float height = static_cast<float>(box.yMax - box.yMin) * scale;
    const float left = std::floor(xmin);
    const float bottom = std::floor(ymin);
    const auto w = saturate_cast<std::size_t>(std::ceil(width + (xmin - left)));
    const auto h = saturate_cast<std::size_t>(std::ceil(height + (ymin - bottom)));
    if (w > max_edge || h > max_edge) return r;
    r.width = w;
    r.height = h;
    r.left = saturate_cast<std::int32_t>(left);
    r.bottom = saturate_cast<std::int32_t>(bottom);
    if (w == 0 || h == 0) return r;

    // Into 26.6 pixels with the bitmap's bottom-left corner at the origin.
    for (int k = 0; k < outline.n_points; ++k) {
        FT_Vector& p = outline.points[k];
        p.x = std::lround((static_cast<float>(p.x) * scale - left) * 64.0f);
        p.y = std::lround((static_cast<float>(p.y) * scale - bottom) * 64.0f);
    }
    r.coverage.assign(w * h, 0);
    FT_Bitmap target{};
    target.rows = static_cast<unsigned>(h);
    target.width = static_cast<unsigned>(w);
    target.pitch = static_cast<int>(w);
    target.buffer = r.coverage.data();
    target.num_grays = 256;
    target.pixel_mode = FT_PIXEL_MODE_GRAY;
    // A positive pitch makes FreeType write the top row first; gray mode turns on anti-aliasing.
    if (FT_Outline_Get_Bitmap(library, &outline, &target))
        std::fill(r.coverage.begin(), r.coverage.end(), 0);
    return r;
}

} // namespace

float font_px_for(std::uint64_t size) noexcept {
    return static_cast<float>(size) / 96.0f * 9.0f;
}

LineMetrics line_metrics(std::optional<VerticalMetrics> font_units, float units_per_em,
                         float font_px) noexcept {
    if (!font_units) return {saturate_cast<std::int32_t>(std::ceil(font_px)), 0.3f * font_px};
    const float scale = font_px / units_per_em;
    return {
        saturate_cast<std::int32_t>(std::ceil(static_cast<float>(font_units->ascender) * scale)),
        -(static_cast<float>(font_units->descender) * scale)};
}

std::ptrdiff_t cell_height_of(LineMetrics metrics) noexcept {
    const auto descent = saturate_cast<std::int32_t>(std::ceil(metrics.descent));
    const auto sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(metrics.ascent) +
                                               static_cast<std::uint32_t>(descent));
    // A font whose line metrics add up to nothing or less still needs a row to draw into.
    return sum <= 0 ? 1 : sum;
}

std::int32_t mirrored_xmin(std::size_t advance, std::int32_t left, std::size_t width) noexcept {
    const auto adv32 = static_cast<std::uint32_t>(advance);
    const auto right = static_cast<std::uint32_t>(left) + static_cast<std::uint32_t>(width);
    return static_cast<std::int32_t>(adv32 - right);
}

void mirror_rows(std::span<std::uint8_t> coverage, std::size_t width, std::size_t height) noexcept {
    for (std::size_t y = 0; y < height; ++y) {
        auto row = coverage.begin() + static_cast<std::ptrdiff_t>(y * width);
        std::reverse(row, row + static_cast<std::ptrdiff_t>(width));
    }
}

void fit_grid(AtlasBuild& build, std::uint64_t size) noexcept {
    const std::uint64_t frame = 2 * k_frame_px;
    const std::uint64_t inner = size > frame ? size - frame : 0;
    const auto cell_height =
        static_cast<std::uint64_t>(std::max<std::ptrdiff_t>(build.atlas.cell_height, 1));
    build.cols = static_cast<std::size_t>(inner / std::max<std::size_t>(build.atlas.cell_width, 1));
    build.rows = static_cast<std::size_t>(inner / cell_height);
}

std::size_t count_missing_kana(const LoadedFont& font) noexcept {
    std::size_t missing = 0;
    for (std::size_t i = 0; i < k_glyph_count; ++i)
        missing += FT_Get_Char_Index(font.face(), glyph_code_point(i)) == 0;
    return missing;
}

AtlasBuild build_atlas(const LoadedFont& font, std::uint64_t size, bool quiet) {
    FT_Face face = font.face();
    const float font_px = font_px_for(size);
    const auto units_per_em = static_cast<float>(face->units_per_EM);
    const float scale = font_px / units_per_em;

    // FreeType takes these from hhea, or from OS/2 when hhea's are both zero; a font that
    // leaves all of them at zero has no line metrics.
    std::optional<VerticalMetrics> font_units;
    if (face->ascender != 0 || face->descender != 0) font_units = {face->ascender, face->descender};
    const LineMetrics metrics = line_metrics(font_units, units_per_em, font_px);

    AtlasBuild build;
    GlyphAtlas& atlas = build.atlas;
    atlas.glyphs.reserve(k_glyph_count);
    std::size_t widest = 0;
    // No bitmap is larger than the window it is drawn into; only a broken font asks for one.
    const auto max_edge = static_cast<std::size_t>(size);
    for (std::size_t i = 0; i < k_glyph_count; ++i) {
        Raster r = rasterize(font.library(), face, glyph_code_point(i), scale, max_edge);
        mirror_rows(r.coverage, r.width, r.height);
        const auto advance = saturate_cast<std::size_t>(std::ceil(r.advance));
        widest = std::max(widest, advance);
        atlas.glyphs.push_back({std::move(r.coverage), r.width, r.height,
                                mirrored_xmin(advance, r.left, r.width), r.bottom});
    }
    atlas.cell_width = std::max<std::size_t>(widest, 1);
    atlas.cell_height = cell_height_of(metrics);
    atlas.ascent = metrics.ascent;
    fit_grid(build, size);

    if (!quiet)
        print_stderr("glyphRain: grid {}x{}, cell {}x{}, font size {:.1f}, {} glyphs\n", build.cols,
                     build.rows, atlas.cell_width, atlas.cell_height, font_px, k_glyph_count);
    return build;
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The frame compositors: pixel format, fades, shading, placement, clipping, drops, the bevel and
// partial frames against full ones.
#include "rain/compositor.hpp"
#include "rain/partial_compositor.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rain/rain_state_access.hpp"

namespace glyphrain {
namespace {

constexpr Rgb k_black{0, 0, 0};
constexpr Rgb k_white{255, 255, 255};

GlyphBitmap make_bitmap(std::size_t width, std::size_t height, std::vector<std::uint8_t> coverage,
                        std::int32_t xmin = 0, std::int32_t ymin = 0) {
    GlyphBitmap bitmap;
    bitmap.coverage = std::move(coverage);
    bitmap.width = width;
    bitmap.height = height;
    bitmap.xmin = xmin;
    bitmap.ymin = ymin;
    return bitmap;
}

GlyphBitmap solid_bitmap(std::size_t width, std::size_t height, std::int32_t xmin = 0,
                         std::int32_t ymin = 0) {
    return make_bitmap(width, height, std::vector<std::uint8_t>(width * height, 255), xmin, ymin);
}

GlyphAtlas make_atlas(std::vector<GlyphBitmap> glyphs, std::size_t cell_width,
                      std::ptrdiff_t cell_height, std::int32_t ascent) {
    GlyphAtlas atlas;
    atlas.glyphs = std::move(glyphs);
    atlas.cell_width = cell_width;
    atlas.cell_height = cell_height;
    atlas.ascent = ascent;
    return atlas;
}

std::array<std::uint8_t, 4> raw_pixel(const FrameBuffer& buffer, std::size_t x, std::size_t y) {
    const auto* p = buffer.bytes().data() + (y * buffer.width() + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

// Decodes a pixel; the padding byte must be 0 in either order.
Rgb read_pixel(const FrameBuffer& buffer, std::size_t x, std::size_t y, bool lsb_first) {
    const auto b = raw_pixel(buffer, x, y);
    EXPECT_EQ(lsb_first ? b[3] : b[0], 0) << x << "," << y;
    return lsb_first ? Rgb{b[2], b[1], b[0]} : Rgb{b[1], b[2], b[3]};
}

// The shading rule written out directly, as the reference for the compositor's faster path.
Rgb reference_shade(std::uint8_t cov, float fade, Rgb color) {
    const float w = (static_cast<float>(cov) / 255.0f) * fade;
    const auto channel = [w](std::uint8_t c) {
        return static_cast<std::uint8_t>(std::clamp(w * static_cast<float>(c), 0.0f, 255.0f));
    };
    return {channel(color.r), channel(color.g), channel(color.b)};
}

std::string to_text(Rgb c) {
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

TEST(TrailFade, FallsSlowlyThenSteeplyToExactlyOneFifth) {
    const float expected[] = {0.965f, 0.927f, 0.884f, 0.835f, 0.777f, 0.704f, 0.6f, 0.2f};
    for (std::int32_t d = 1; d <= 8; ++d)
        EXPECT_NEAR(trail_fade(d, 8), expected[d - 1], 0.0005f) << d;
    for (std::int32_t length = 1; length <= 300; ++length) {
        EXPECT_EQ(trail_fade(length, length), 0.2f) << length;
        for (std::int32_t d = 2; d <= length; ++d)
            ASSERT_LT(trail_fade(d, length), trail_fade(d - 1, length)) << d << "/" << length;
    }
}

// The product is rounded to single precision before the sum, as in the unfused formula; the
// volatile keeps a compiler from fusing the two into one multiply-add.
TEST(TrailFade, IsTheUnfusedSinglePrecisionFormula) {
    for (std::int32_t length = 1; length <= 64; ++length)
        for (std::int32_t d = 1; d <= length; ++d) {
            const float root = std::cbrt(1.0f - static_cast<float>(d) / static_cast<float>(length));
            volatile float scaled = root * 0.8f;
            const float expected = scaled + 0.2f;
            ASSERT_EQ(trail_fade(d, length), expected) << d << "/" << length;
        }
}

std::vector<float> sample_fades() {
    std::vector<float> fades{1.0f, 0.5f, 0.999f, 0.2f, 0.0f};
    for (std::int32_t length = 1; length <= 16; ++length)
        for (std::int32_t d = 1; d <= length; ++d)
            fades.push_back(trail_fade(d, length));
    return fades;
}

const Rgb k_sample_colors[] = {{180, 255, 180}, {0, 200, 0}, {220, 193, 153}, {180, 158, 125},
                               {255, 255, 255}, {1, 2, 3},   {0, 0, 0},       {254, 127, 129}};

// Every coverage level, every sample fade and colour, both byte orders: a large glyph (drawn
// through a per-cell table) and small ones (shaded pixel by pixel) must match the direct rule.
TEST(DrawCell, ShadingIsBitIdenticalToTheDirectRule) {
    std::vector<std::uint8_t> all_levels(256);
    for (std::size_t i = 0; i < 256; ++i)
        all_levels[i] = static_cast<std::uint8_t>(i);
    const GlyphAtlas large = make_atlas({make_bitmap(16, 16, all_levels)}, 16, 16, 15);
    std::vector<GlyphBitmap> strips;
    for (std::size_t k = 0; k < 32; ++k)
        strips.push_back(make_bitmap(
            8, 1,
            std::vector<std::uint8_t>(all_levels.begin() + 8 * k, all_levels.begin() + 8 * k + 8)));
    const GlyphAtlas small = make_atlas(std::move(strips), 8, 1, 0);

    FrameBuffer large_buffer(16, 16);
    FrameBuffer small_buffer(256, 1);
    std::size_t mismatches = 0;
    for (const float fade : sample_fades())
        for (const Rgb color : k_sample_colors)
            for (const bool lsb : {true, false}) {
                std::ranges::fill(large_buffer.bytes(), std::uint8_t{0});
                draw_cell(large_buffer, large, 0, 0, 0, fade, color, lsb, {});
                for (std::size_t k = 0; k < 32; ++k)
                    draw_cell(small_buffer, small, k, k, 0, fade, color, lsb, {});
                for (std::size_t cov = 0; cov < 256; ++cov) {
                    const Rgb expected =
                        reference_shade(static_cast<std::uint8_t>(cov), fade, color);
                    const Rgb from_table = read_pixel(large_buffer, cov % 16, cov / 16, lsb);
                    const Rgb direct = read_pixel(small_buffer, cov, 0, lsb);
                    if (from_table != expected || direct != expected) {
                        if (++mismatches < 5)
                            ADD_FAILURE() << "cov " << cov << " fade " << fade << " colour "
                                          << to_text(color) << ": " << to_text(from_table) << " / "
                                          << to_text(direct) << " vs " << to_text(expected);
                    }
                }
            }
    EXPECT_EQ(mismatches, 0u);
}

TEST(DrawCell, LastTrailCellAtHalfCoverage) {
    const GlyphAtlas atlas = make_atlas({make_bitmap(1, 1, {128})}, 1, 1, 0);
    FrameBuffer buffer(1, 1);
    draw_cell(buffer, atlas, 0, 0, 0, trail_fade(8, 8), k_default_trail_color, true, {});
    EXPECT_EQ(read_pixel(buffer, 0, 0, true), (Rgb{0, 20, 0}));
}

// x0 = offset + col * cell_width + xmin; y0 = offset + row * cell_height + ascent - ymin - h + 1.
TEST(DrawCell, PlacesTheBitmapFromItsOffsetsAndTheAscent) {
    const std::vector<std::uint8_t> coverage{10, 20, 30, 40, 50, 60};
    const GlyphAtlas atlas = make_atlas({make_bitmap(3, 2, coverage, -1, -1)}, 4, 5, 3);
    FrameBuffer buffer(32, 32);
    draw_cell(buffer, atlas, 0, 1, 2, 1.0f, k_white, true, {5, 6});
    const std::size_t x0 = 5 + 4 - 1, y0 = 6 + 10 + 3 + 1 - 2 + 1;
    std::size_t lit = 0;
    for (std::size_t y = 0; y < 32; ++y)
        for (std::size_t x = 0; x < 32; ++x) {
            const Rgb pixel = read_pixel(buffer, x, y, true);
            const bool inside = x >= x0 && x < x0 + 3 && y >= y0 && y < y0 + 2;
            if (inside) {
                const std::uint8_t cov = coverage[(y - y0) * 3 + (x - x0)];
                EXPECT_EQ(pixel, reference_shade(cov, 1.0f, k_white)) << x << "," << y;
            } else {
                EXPECT_EQ(pixel, k_black) << x << "," << y;
            }
            lit += pixel != k_black ? 1 : 0;
        }
    EXPECT_EQ(lit, 6u);
}

struct ClipCase {
    std::size_t buffer_width, buffer_height;
    std::int32_t x0, y0;
    std::size_t glyph_width, glyph_height;
};

class Clipping : public ::testing::TestWithParam<ClipCase> {};

TEST_P(Clipping, WritesExactlyThePixelsInsideTheBuffer) {
    const ClipCase& c = GetParam();
    const auto h = static_cast<std::int32_t>(c.glyph_height);
    // With zero offsets and ascent, y0 = -ymin - h + 1.
    const GlyphAtlas atlas =
        make_atlas({solid_bitmap(c.glyph_width, c.glyph_height, c.x0, 1 - h - c.y0)}, 1, 1, 0);
    FrameBuffer buffer(c.buffer_width, c.buffer_height);
    draw_cell(buffer, atlas, 0, 0, 0, 1.0f, k_white, false, {});
    for (std::size_t y = 0; y < c.buffer_height; ++y)
        for (std::size_t x = 0; x < c.buffer_width; ++x) {
            const auto xi = static_cast<std::int32_t>(x), yi = static_cast<std::int32_t>(y);
            const bool inside = xi >= c.x0 &&
                                xi < c.x0 + static_cast<std::int32_t>(c.glyph_width) &&
                                yi >= c.y0 && yi < c.y0 + h;
            EXPECT_EQ(read_pixel(buffer, x, y, false), inside ? k_white : k_black) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Edges, Clipping,
                         ::testing::Values(ClipCase{6, 5, -2, 1, 4, 4}, ClipCase{6, 5, 4, 1, 4, 4},
                                           ClipCase{6, 5, 1, -2, 4, 4}, ClipCase{6, 5, 1, 3, 4, 4},
                                           ClipCase{6, 5, -1, -1, 8, 8},
                                           ClipCase{6, 5, -3, -3, 4, 4}, ClipCase{6, 5, 5, 4, 4, 4},
                                           ClipCase{6, 5, -4, 0, 4, 4}, ClipCase{6, 5, 6, 0, 4, 4},
                                           ClipCase{6, 5, 0, 5, 4, 4}, ClipCase{6, 5, 0, -4, 4, 4},
                                           // Large enough for the per-cell table.
                                           ClipCase{20, 18, -5, 3, 16, 16},
                                           ClipCase{20, 18, 6, 5, 16, 16},
                                           ClipCase{20, 18, -5, -3, 16, 16},
                                           ClipCase{20, 18, 2, 1, 16, 16}));

TEST(DrawCell, CoverageZeroKeepsEarlierPixelsAndInkOverwrites) {
    const GlyphAtlas atlas =
        make_atlas({solid_bitmap(3, 1), make_bitmap(3, 1, {0, 255, 255})}, 2, 1, 0);
    FrameBuffer buffer(5, 1);
    draw_cell(buffer, atlas, 0, 0, 0, 1.0f, {255, 0, 0}, true, {});
    draw_cell(buffer, atlas, 1, 1, 0, 1.0f, {0, 0, 255}, true, {});
    EXPECT_EQ(read_pixel(buffer, 2, 0, true), (Rgb{255, 0, 0}));
    EXPECT_EQ(read_pixel(buffer, 3, 0, true), (Rgb{0, 0, 255}));
    draw_cell(buffer, atlas, 0, 1, 0, 0.5f, {0, 255, 0}, true, {});
    for (std::size_t x = 2; x < 5; ++x)
        EXPECT_EQ(read_pixel(buffer, x, 0, true), (Rgb{0, 127, 0}));
}

TEST(DrawCell, UnusableGlyphsDrawNothing) {
    GlyphBitmap short_coverage = make_bitmap(2, 2, {255, 255, 255});
    const GlyphAtlas atlas =
        make_atlas({make_bitmap(0, 0, {}), make_bitmap(3, 0, {}), short_coverage}, 1, 1, 0);
    FrameBuffer buffer(4, 4);
    for (std::size_t glyph = 0; glyph < 4; ++glyph)
        draw_cell(buffer, atlas, glyph, 1, 1, 1.0f, k_white, true, {});
    EXPECT_TRUE(std::ranges::all_of(buffer.bytes(), [](std::uint8_t b) { return b == 0; }));
}

// One column of four one-pixel cells in a 12 x 12 window: the grid starts at (5, 4).
struct DropCase {
    std::int32_t head, length;
    std::array<std::int32_t, 4> d_by_row; // -1: not drawn, 0: head, else the trail distance
};

class DropDrawing : public ::testing::TestWithParam<DropCase> {};

TEST_P(DropDrawing, DrawsHeadAndTrailCellsOnTheGrid) {
    const DropCase& c = GetParam();
    const GlyphAtlas atlas = make_atlas({solid_bitmap(1, 1)}, 1, 1, 0);
    RainState rain(1, 4, 1, 3);
    RainStateAccess::columns(rain)[0] = RainColumn{c.head, c.length, 0, true};
    Settings settings;
    settings.color = {250, 10, 10};
    settings.trail_color = {10, 250, 10};
    for (const bool lsb : {true, false}) {
        FrameBuffer buffer(12, 12);
        compose_frame(buffer, rain, atlas, settings, lsb);
        for (std::size_t row = 0; row < 4; ++row) {
            const std::int32_t d = c.d_by_row[row];
            const Rgb expected =
                d < 0    ? k_black
                : d == 0 ? settings.color
                         : reference_shade(255, trail_fade(d, c.length), settings.trail_color);
            EXPECT_EQ(read_pixel(buffer, 5, 4 + row, lsb), expected) << "row " << row;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DropDrawing,
    ::testing::Values(DropCase{-1, 3, {-1, -1, -1, -1}}, DropCase{0, 3, {0, -1, -1, -1}},
                      DropCase{2, 1, {-1, 1, 0, -1}}, DropCase{3, 8, {3, 2, 1, 0}},
                      DropCase{1, 0, {-1, 0, -1, -1}},
                      // Head below the last row: only the trail shows.
                      DropCase{4, 3, {-1, 3, 2, 1}}, DropCase{5, 3, {-1, -1, 3, 2}},
                      DropCase{7, 3, {-1, -1, -1, -1}}));

TEST(ComposeFrame, HeadPixelBytesInBothOrders) {
    const GlyphAtlas atlas = make_atlas({solid_bitmap(1, 1)}, 1, 1, 0);
    RainState rain(1, 4, 1, 3);
    RainStateAccess::columns(rain)[0] = RainColumn{1, 2, 0, true};
    FrameBuffer buffer(12, 12);
    compose_frame(buffer, rain, atlas, Settings{}, true);
    EXPECT_EQ(raw_pixel(buffer, 5, 5), (std::array<std::uint8_t, 4>{180, 255, 180, 0}));
    compose_frame(buffer, rain, atlas, Settings{}, false);
    EXPECT_EQ(raw_pixel(buffer, 5, 5), (std::array<std::uint8_t, 4>{0, 180, 255, 180}));
}

TEST(ComposeFrame, LaterRowsOverwriteEarlierOnes) {
    // Two-pixel-high glyphs in one-pixel cells: each cell's lower pixel lies under the next cell.
    const GlyphAtlas atlas = make_atlas({solid_bitmap(1, 2)}, 1, 1, 1);
    RainState rain(1, 4, 1, 3);
    RainStateAccess::columns(rain)[0] = RainColumn{1, 1, 0, true};
    FrameBuffer buffer(12, 12);
    compose_frame(buffer, rain, atlas, Settings{}, true);
    // y0 = 4 + row + 1 - 0 - 2 + 1 = 4 + row: row 0 covers y 4..5, the head (row 1) y 5..6.
    EXPECT_EQ(read_pixel(buffer, 5, 4, true), reference_shade(255, 0.2f, k_default_trail_color));
    EXPECT_EQ(read_pixel(buffer, 5, 5, true), k_default_color);
    EXPECT_EQ(read_pixel(buffer, 5, 6, true), k_default_color);
}

TEST(ComposeFrame, InactiveColumnsLeaveBlackInsideTheBevel) {
    const GlyphAtlas atlas = make_atlas({solid_bitmap(1, 1)}, 1, 1, 0);
    RainState three(3, 4, 1, 3);
    for (RainColumn& column : RainStateAccess::columns(three))
        column = RainColumn{2, 1, 0, false};
    RainState none(0, 4, 1, 3);
    for (const RainState* rain : {&three, &none}) {
        FrameBuffer buffer(12, 12);
        std::ranges::fill(buffer.bytes(), std::uint8_t{0xAB});
        compose_frame(buffer, *rain, atlas, Settings{}, true);
        for (std::size_t y = 4; y < 8; ++y)
            for (std::size_t x = 4; x < 8; ++x)
                EXPECT_EQ(raw_pixel(buffer, x, y), (std::array<std::uint8_t, 4>{}))
                    << x << "," << y;
        EXPECT_EQ(read_pixel(buffer, 0, 5, true), (Rgb{30, 30, 30}));
        EXPECT_EQ(read_pixel(buffer, 11, 5, true), (Rgb{160, 160, 160}));
    }
}

TEST(ComposeFrame, BevelCoversGlyphsInTheOuterBand) {
    const GlyphAtlas atlas = make_atlas({solid_bitmap(12, 12, -5, 0)}, 1, 1, 6);
    RainState rain(1, 4, 1, 3);
    RainStateAccess::columns(rain)[0] = RainColumn{0, 0, 0, true};
    FrameBuffer buffer(12, 12);
    Settings settings;
    settings.theme = "ZenBurn";
    compose_frame(buffer, rain, atlas, settings, true);
    EXPECT_EQ(read_pixel(buffer, 0, 0, true), (Rgb{35, 32, 28}));
    EXPECT_EQ(read_pixel(buffer, 3, 6, true), (Rgb{60, 55, 48}));
    EXPECT_EQ(read_pixel(buffer, 4, 6, true), k_default_color);
}

struct RingColors {
    Rgb shadow, light;
};

const RingColors k_default_rings[4] = {{{30, 30, 30}, {160, 160, 160}},
                                       {{38, 38, 38}, {146, 146, 146}},
                                       {{46, 46, 46}, {133, 133, 133}},
                                       {{55, 55, 55}, {120, 120, 120}}};
const RingColors k_zenburn_rings[4] = {{{35, 32, 28}, {160, 145, 125}},
                                       {{43, 39, 34}, {150, 136, 116}},
                                       {{51, 47, 41}, {140, 127, 108}},
                                       {{60, 55, 48}, {130, 118, 100}}};

class Bevel
    : public ::testing::TestWithParam<std::tuple<bool, bool, std::pair<std::size_t, std::size_t>>> {
};

// Every pixel of a non-square buffer: the ring is the distance to the nearest edge; bottom and
// right edges (including the top-right and bottom-left corners) are light, the rest shadow.
TEST_P(Bevel, DrawsFourSunkenRings) {
    const auto [zenburn, lsb, size] = GetParam();
    const RingColors* rings = zenburn ? k_zenburn_rings : k_default_rings;
    const auto [w, h] = size;
    FrameBuffer buffer(w, h);
    draw_bevel(buffer, lsb,
               bevel_colors_for(zenburn ? std::optional<std::string>("zenburn") : std::nullopt));
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t ring = std::min({x, y, w - 1 - x, h - 1 - y});
            Rgb expected = k_black;
            if (ring < 4) {
                const bool light = x == w - 1 - ring || y == h - 1 - ring;
                expected = light ? rings[ring].light : rings[ring].shadow;
            }
            EXPECT_EQ(read_pixel(buffer, x, y, lsb), expected) << x << "," << y;
        }
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(read_pixel(buffer, i, i, lsb), rings[i].shadow);
        EXPECT_EQ(read_pixel(buffer, w - 1 - i, i, lsb), rings[i].light);
        EXPECT_EQ(read_pixel(buffer, i, h - 1 - i, lsb), rings[i].light);
        EXPECT_EQ(read_pixel(buffer, w - 1 - i, h - 1 - i, lsb), rings[i].light);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ThemesOrdersSizes, Bevel,
    ::testing::Combine(::testing::Bool(), ::testing::Bool(),
                       ::testing::Values(std::pair<std::size_t, std::size_t>{16, 12},
                                         std::pair<std::size_t, std::size_t>{8, 8},
                                         std::pair<std::size_t, std::size_t>{9, 30})));

TEST(Bevel, TinyBuffersStayInBounds) {
    using Size = std::pair<std::size_t, std::size_t>;
    for (const auto& [w, h] :
         {Size{0, 0}, Size{1, 1}, Size{3, 3}, Size{2, 7}, Size{1, 10}, Size{100, 2}}) {
        FrameBuffer buffer(w, h);
        draw_bevel(buffer, true, bevel_colors_for(std::nullopt));
        if (w == 1 && h == 1) {
            EXPECT_EQ(read_pixel(buffer, 0, 0, true), (Rgb{160, 160, 160}));
        }
        if (w == 3 && h == 3) {
            EXPECT_EQ(read_pixel(buffer, 1, 1, true), (Rgb{146, 146, 146}));
        }
    }
}

TEST(BevelColorsFor, ChoosesZenburnByNameIgnoringCase) {
    const Rgb zenburn_outer{35, 32, 28}, default_outer{30, 30, 30};
    for (const char* name : {"zenburn", "ZENBURN", "ZenBurn"})
        EXPECT_EQ(bevel_colors_for(std::string(name)).shadow_outer, zenburn_outer) << name;
    for (const char* name : {"", "zenburn ", "solarized", "zenbur"})
        EXPECT_EQ(bevel_colors_for(std::string(name)).shadow_outer, default_outer) << name;
    EXPECT_EQ(bevel_colors_for(std::nullopt).light_outer, (Rgb{160, 160, 160}));
}

TEST(GridOffsets, CentresTheGridRoundingDown) {
    const GlyphAtlas atlas = make_atlas({}, 9, 12, 9);
    const GridOffsets offsets = grid_offsets(96, 96, 9, 7, atlas);
    EXPECT_EQ(offsets.x, 7u); // (96 - 81) / 2
    EXPECT_EQ(offsets.y, 6u); // (96 - 84) / 2
    const GridOffsets odd = grid_offsets(97, 90, 9, 7, atlas);
    EXPECT_EQ(odd.x, 8u);
    EXPECT_EQ(odd.y, 3u);
}

// Glyphs of random size, placement and coverage for cells of about size / 96 * 9 pixels, with
// stray zero rows and columns so the ink is smaller than the bitmap, and some that draw nothing.
// With overhang, bitmaps reach up to half a cell beyond every side of their cell, and a few span
// the whole window, into the bevel and past the window's edges.
GlyphAtlas random_atlas(std::size_t size, bool overhang, std::uint64_t seed) {
    Xorshift64 rng{seed};
    const auto pick = [&rng](std::int64_t lo, std::int64_t hi) {
        return lo +
               static_cast<std::int64_t>(rng.next_u64() % static_cast<std::uint64_t>(hi - lo + 1));
    };
    const auto cell = static_cast<std::int64_t>(size * 9 / 96 + 1);
    const std::int64_t cell_height = cell + cell / 3, ascent = cell;
    std::vector<GlyphBitmap> glyphs;
    for (std::size_t g = 0; g < 40; ++g) {
        std::int64_t w = pick(1, cell), h = pick(1, cell_height);
        std::int64_t left = pick(0, cell - w), top = pick(0, cell_height - h);
        if (overhang) {
            const bool huge = g % 13 == 0;
            w = huge ? static_cast<std::int64_t>(size) + 4 : pick(1, 2 * cell);
            h = huge ? static_cast<std::int64_t>(size) + 4 : pick(1, 2 * cell_height);
            left = pick(-cell / 2 - 2, cell + 1 - w / 2) -
                   (huge ? static_cast<std::int64_t>(size) / 2 : 0);
            top = pick(-cell_height / 2 - 2, cell_height + 1 - h / 2) -
                  (huge ? static_cast<std::int64_t>(size) / 2 : 0);
        }
        std::vector<std::uint8_t> coverage(static_cast<std::size_t>(w * h));
        const std::int64_t blank_rows = pick(0, h / 3), blank_cols = pick(0, w / 3);
        for (std::int64_t j = 0; j < h; ++j)
            for (std::int64_t i = 0; i < w; ++i)
                if (j >= blank_rows && i >= blank_cols && rng.next_u64() % 5 != 0)
                    coverage[static_cast<std::size_t>(j * w + i)] =
                        static_cast<std::uint8_t>(rng.next_u64());
        if (g % 17 == 5) std::ranges::fill(coverage, std::uint8_t{0});
        if (g % 19 == 7) coverage.pop_back(); // too short: drawn as nothing
        // top = ascent - ymin - h + 1
        glyphs.push_back(make_bitmap(static_cast<std::size_t>(w), static_cast<std::size_t>(h),
                                     std::move(coverage), static_cast<std::int32_t>(left),
                                     static_cast<std::int32_t>(ascent - top - h + 1)));
    }
    glyphs.push_back(make_bitmap(0, 0, {}));
    return make_atlas(std::move(glyphs), static_cast<std::size_t>(cell), cell_height,
                      static_cast<std::int32_t>(ascent));
}

struct PartialCase {
    const char* name;
    std::size_t width, height;
    bool overhang;
    std::size_t buffers; // 1: a client buffer, 2: segments used in turn (either may come twice)
    std::size_t extra_glyphs; // grid indices past the atlas, which draw nothing
    std::size_t request_cost = 0;
    bool still_recolors = false; // some frames change only the colours, with no rain step
};

void PrintTo(const PartialCase& c, std::ostream* out) {
    *out << c.name;
}

class PartialCompose : public ::testing::TestWithParam<PartialCase> {};

// A long seeded run with random density, skipped and hidden frames, colour, theme and byte order
// changes, lost window content and lost buffers: every buffer equals a full compose of the same
// state, and copying only the returned rectangles into a mirror of the window (as the server
// does) keeps the mirror equal to it too.
TEST_P(PartialCompose, EqualsFullComposeAndTheRectanglesBringTheWindowUpToDate) {
    const PartialCase& c = GetParam();
    const GlyphAtlas atlas =
        random_atlas(std::min(c.width, c.height), c.overhang, c.width * 31 + c.height);
    const std::size_t cols = (c.width - 8) / atlas.cell_width;
    const std::size_t rows = (c.height - 8) / static_cast<std::size_t>(atlas.cell_height);
    RainState rain(cols, rows, atlas.glyphs.size() + c.extra_glyphs, c.width * 7 + c.buffers);
    PartialCompositor partial(atlas, cols, rows, c.buffers);
    partial.set_request_cost(c.request_cost);
    std::vector<FrameBuffer> buffers;
    for (std::size_t i = 0; i < c.buffers; ++i) {
        buffers.emplace_back(c.width, c.height);
        std::ranges::fill(buffers.back().bytes(), std::uint8_t{0xAB});
    }
    FrameBuffer window(c.width, c.height), full(c.width, c.height);
    std::ranges::fill(window.bytes(), std::uint8_t{0xCD});

    Xorshift64 rng{99};
    std::array<Rgb, 16> palette{};
    for (Rgb& color : palette)
        color = {static_cast<std::uint8_t>(rng.next_u64()),
                 static_cast<std::uint8_t>(rng.next_u64()),
                 static_cast<std::uint8_t>(rng.next_u64())};
    Settings settings;
    bool lsb = true;
    std::uint32_t density = 75;
    double sent = 0;
    std::size_t composed = 0;
    for (int step = 0; step < 2000; ++step) {
        if (rng.next_u64() % 50 == 0)
            density = 1 + static_cast<std::uint32_t>(rng.next_u64() % 100);
        const bool still = c.still_recolors && rng.next_u64() % 3 == 0;
        if (!still) rain.step_rain(density);
        const std::uint64_t event = still ? 300 + rng.next_u64() % 100 : rng.next_u64() % 400;
        // Colours come and go often, and back again: shading is kept by fade and colour.
        if (event >= 300) settings.color = palette[event % 3];
        if (event >= 300) settings.trail_color = palette[event % palette.size()];
        if (event == 2)
            settings.theme = settings.theme ? std::nullopt : std::optional<std::string>("zenburn");
        if (event >= 3 && event < 13) lsb = !lsb;
        if (event == 4) {
            partial.mark_window_changed();
            std::ranges::fill(window.bytes(), std::uint8_t{0xCD});
        }
        if (event == 5) {
            partial.mark_all_changed();
            for (FrameBuffer& buffer : buffers)
                std::ranges::fill(buffer.bytes(), std::uint8_t{0xAB});
        }
        if (rng.next_u64() % 6 == 0) continue; // hidden, or no buffer free: nothing composed

        const std::size_t index = rng.next_u64() % c.buffers;
        FrameBuffer& buffer = buffers[index];
        compose_frame(full, rain, atlas, settings, lsb);
        const auto rects = partial.compose_changed(buffer, index, rain, settings, lsb);
        ASSERT_TRUE(std::ranges::equal(buffer.bytes(), full.bytes())) << "step " << step;
        for (const PixelRect& rect : rects) {
            ASSERT_TRUE(rect.width > 0 && rect.height > 0 && rect.x + rect.width <= c.width &&
                        rect.y + rect.height <= c.height)
                << "step " << step;
            for (std::size_t y = rect.y; y < rect.y + rect.height; ++y)
                std::copy_n(buffer.pixels().data() + y * c.width + rect.x, rect.width,
                            window.pixels().data() + y * c.width + rect.x);
            sent += static_cast<double>(rect.width * rect.height) /
                    static_cast<double>(c.width * c.height);
        }
        ASSERT_TRUE(std::ranges::equal(window.bytes(), full.bytes())) << "step " << step;
        ++composed;
    }
    // Only what changed is sent: about the drops' ink, far from whole frames.
    if (!c.overhang) {
        EXPECT_LT(sent / static_cast<double>(composed), 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, PartialCompose,
    ::testing::Values(PartialCase{"client96", 96, 96, false, 1, 0},
                      PartialCase{"segments96", 96, 96, false, 2, 0},
                      PartialCase{"stillRecolorsSegments96", 96, 96, false, 2, 0, 0, true},
                      PartialCase{"overhangClient96", 96, 96, true, 1, 3},
                      PartialCase{"overhangSegments96", 96, 96, true, 2, 0},
                      PartialCase{"segments131", 131, 131, false, 2, 3},
                      PartialCase{"mergedSegments131", 131, 131, false, 2, 0, 2000},
                      PartialCase{"overhangSegments131x200", 131, 200, true, 2, 0},
                      PartialCase{"mergedOverhangClient131x200", 131, 200, true, 1, 0, 1u << 30},
                      PartialCase{"client256", 256, 256, false, 1, 0},
                      PartialCase{"overhangSegments512", 512, 512, true, 2, 0}),
    [](const ::testing::TestParamInfo<PartialCase>& run) { return std::string(run.param.name); });

// Only changed cells are written: a mark in a cell that keeps its look survives the next frame,
// whether glyphs stay in their cells (1 pixel high) or reach into the next (2 pixels high).
TEST(PartialCompositor, LeavesCellsThatKeepTheirLookUntouched) {
    for (const std::size_t height : {1u, 2u}) {
        const auto ascent = static_cast<std::int32_t>(height) - 1;
        const GlyphAtlas atlas = make_atlas({solid_bitmap(1, height)}, 1, 1, ascent);
        RainState rain(3, 4, 1, 3); // the grid starts at (4, 4) in a 12 x 12 window
        std::vector<RainColumn>& columns = RainStateAccess::columns(rain);
        columns = {RainColumn{2, 1, 0, true}, RainColumn{}, RainColumn{1, 1, 0, true}};
        PartialCompositor partial(atlas, 3, 4, 1);
        FrameBuffer buffer(12, 12), full(12, 12);
        partial.compose_changed(buffer, 0, rain, Settings{}, true);
        constexpr std::uint32_t k_mark = 0x00123456;
        buffer.pixels()[5 * 12 + 4] = k_mark; // column 0's trail cell
        columns[2].head = 2;
        partial.compose_changed(buffer, 0, rain, Settings{}, true);
        compose_frame(full, rain, atlas, Settings{}, true);
        full.pixels()[5 * 12 + 4] = k_mark;
        EXPECT_TRUE(std::ranges::equal(buffer.bytes(), full.bytes())) << height;
    }
}

} // namespace
} // namespace glyphrain

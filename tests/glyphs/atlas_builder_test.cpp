// SPDX-License-Identifier: MIT
// The atlas arithmetic and the atlas built from installed fonts, checked against FreeType's own
// unmirrored rendering.
#include "glyphs/atlas_builder.hpp"

#include <cmath>
#include <limits>
#include <map>
#include <utility>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include "font_fixtures.hpp"
#include "glyphs/load_glyphs.hpp"
#include "glyphs/saturate.hpp"
#include "support/temp_dir.hpp"
#include "system/error.hpp"

namespace glyphrain {
namespace {

constexpr float k_nan = std::numeric_limits<float>::quiet_NaN();
constexpr float k_inf = std::numeric_limits<float>::infinity();

TEST(SaturateCast, ClampsAndTurnsNanIntoZero) {
    EXPECT_EQ(saturate_cast<std::int32_t>(k_nan), 0);
    EXPECT_EQ(saturate_cast<std::int32_t>(k_inf), INT32_MAX);
    EXPECT_EQ(saturate_cast<std::int32_t>(-k_inf), INT32_MIN);
    EXPECT_EQ(saturate_cast<std::int32_t>(3e9f), INT32_MAX);
    EXPECT_EQ(saturate_cast<std::int32_t>(-3e9f), INT32_MIN);
    EXPECT_EQ(saturate_cast<std::int32_t>(-1.5f), -1);
    EXPECT_EQ(saturate_cast<std::int32_t>(2147483520.0f), 2147483520);
    EXPECT_EQ(saturate_cast<std::size_t>(-7.0f), 0u);
    EXPECT_EQ(saturate_cast<std::size_t>(1e30f), SIZE_MAX);
    EXPECT_EQ(saturate_cast<std::size_t>(k_nan), 0u);
    EXPECT_EQ(saturate_cast<std::size_t>(9.99f), 9u);
}

TEST(FontPx, FollowsTheWindowSize) {
    EXPECT_EQ(font_px_for(96), 9.0f);
    EXPECT_EQ(font_px_for(100), 9.375f);
    EXPECT_EQ(font_px_for(128), 12.0f);
    EXPECT_EQ(font_px_for(1024), 96.0f);
}

TEST(LineMetricsAndCellHeight, FallBackAndNeverGiveLessThanOneRow) {
    LineMetrics none = line_metrics(std::nullopt, 2048, 9.0f);
    EXPECT_EQ(none.ascent, 9);
    EXPECT_FLOAT_EQ(none.descent, 2.7f);
    EXPECT_EQ(cell_height_of(none), 12);

    // A descender above the baseline shortens the cell; sums of zero or less give one row.
    EXPECT_EQ(cell_height_of({10, -3.5f}), 7);
    EXPECT_EQ(cell_height_of({0, 0.0f}), 1);
    EXPECT_EQ(cell_height_of({2, -6.0f}), 1);
    EXPECT_EQ(cell_height_of({INT32_MAX, 1.0f}), 1); // wraps negative
    EXPECT_EQ(cell_height_of({0, k_nan}), 1);
}

TEST(MirroredXmin, PlacesTheMirrorInsideTheAdvanceBox) {
    EXPECT_EQ(mirrored_xmin(10, 1, 7), 2);
    EXPECT_EQ(mirrored_xmin(6, 0, 6), 0);
    EXPECT_EQ(mirrored_xmin(0, 5, 3), -8);
    EXPECT_EQ(mirrored_xmin(4, -2, 3), 3);
    EXPECT_EQ(mirrored_xmin(0x1'0000'000Aull, 1, 7), 2); // only the low 32 bits of adv count
    EXPECT_EQ(mirrored_xmin(0, INT32_MAX, 1), INT32_MIN);
}

TEST(MirrorRows, FlipsEachRowLeftToRight) {
    std::vector<std::uint8_t> asymmetric{1, 2, 3, 4, 5, 6};
    mirror_rows(asymmetric, 3, 2);
    EXPECT_EQ(asymmetric, (std::vector<std::uint8_t>{3, 2, 1, 6, 5, 4}));
    std::vector<std::uint8_t> symmetric{7, 8, 7, 0, 9, 0};
    mirror_rows(symmetric, 3, 2);
    EXPECT_EQ(symmetric, (std::vector<std::uint8_t>{7, 8, 7, 0, 9, 0}));
    std::vector<std::uint8_t> narrow{1, 2, 3};
    mirror_rows(narrow, 1, 3);
    EXPECT_EQ(narrow, (std::vector<std::uint8_t>{1, 2, 3}));
    mirror_rows({}, 0, 0);
}

struct GridCase {
    std::uint64_t size;
    std::size_t cell_width;
    std::ptrdiff_t cell_height;
    std::size_t cols;
    std::size_t rows;
    const char* error; // nullptr when the grid is usable
};

class Grid : public ::testing::TestWithParam<GridCase> {};

TEST_P(Grid, FitsInsideTheFrameAndRejectsUnusableGrids) {
    const GridCase& c = GetParam();
    AtlasBuild build;
    build.atlas.cell_width = c.cell_width;
    build.atlas.cell_height = c.cell_height;
    fit_grid(build, c.size);
    EXPECT_EQ(build.cols, c.cols);
    EXPECT_EQ(build.rows, c.rows);
    EXPECT_LE(build.cols * c.cell_width, c.size - 8);
    if (c.error) {
        try {
            check_grid(build, c.size);
            FAIL() << "grid accepted";
        } catch (const AppError& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
    } else {
        EXPECT_NO_THROW(check_grid(build, c.size));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Grid,
    ::testing::Values(
        GridCase{96, 6, 12, 14, 7, nullptr}, GridCase{1024, 58, 113, 17, 8, nullptr},
        GridCase{96, 88, 44, 1, 2, nullptr},
        GridCase{96, 40, 300, 2, 0,
                 "Font cell 40x300 is too large for a 96 px window (needs at least 1 column and "
                 "2 rows)"},
        GridCase{96, 6, 45, 14, 1,
                 "Font cell 6x45 is too large for a 96 px window (needs at least 1 column and 2 "
                 "rows)"},
        GridCase{96, 89, 12, 0, 7,
                 "Font cell 89x12 is too large for a 96 px window (needs at least 1 column and 2 "
                 "rows)"}));

/// The font file at path, loaded.
LoadedFont open_font(const std::string& path) {
    return load_font(read_font_file(path));
}

/// build_atlas with what it printed.
std::pair<AtlasBuild, std::string> build_printing(const std::string& path, std::uint64_t size,
                                                  bool quiet = false) {
    LoadedFont font = open_font(path);
    ::testing::internal::CaptureStderr();
    AtlasBuild build = build_atlas(font, size, quiet);
    return {std::move(build), ::testing::internal::GetCapturedStderr()};
}

struct SummaryCase {
    std::string font;
    std::uint64_t size;
    std::string line;
};

class Summary : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(Summary, NamesGridCellAndFontSize) {
    const SummaryCase& c = GetParam();
    if (!test::file_exists(c.font)) GTEST_SKIP() << c.font << " is not installed";
    auto [build, printed] = build_printing(c.font, c.size);
    EXPECT_EQ(printed, "glyphRain: " + c.line + "\n");
    const GlyphAtlas& atlas = build.atlas;
    ASSERT_EQ(atlas.glyphs.size(), k_glyph_count);
    EXPECT_LE(build.cols * atlas.cell_width, c.size - 8);
    EXPECT_LE(build.rows * static_cast<std::size_t>(atlas.cell_height), c.size - 8);
    for (const GlyphBitmap& glyph : atlas.glyphs)
        EXPECT_EQ(glyph.coverage.size(), glyph.width * glyph.height);
    EXPECT_EQ(build_printing(c.font, c.size, true).second, "");
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, Summary,
    ::testing::Values(
        SummaryCase{test::k_dejavu_mono, 96, "grid 14x7, cell 6x12, font size 9.0, 172 glyphs"},
        SummaryCase{test::k_dejavu_mono, 100, "grid 15x7, cell 6x12, font size 9.4, 172 glyphs"},
        SummaryCase{test::k_dejavu_mono, 128, "grid 15x8, cell 8x15, font size 12.0, 172 glyphs"},
        SummaryCase{test::k_dejavu_mono, 1024,
                    "grid 17x8, cell 58x113, font size 96.0, 172 glyphs"},
        SummaryCase{test::k_vl_gothic, 96, "grid 8x8, cell 10x10, font size 9.0, 172 glyphs"},
        SummaryCase{test::k_vl_gothic, 100, "grid 9x8, cell 10x11, font size 9.4, 172 glyphs"},
        SummaryCase{test::k_vl_gothic, 128, "grid 9x9, cell 13x13, font size 12.0, 172 glyphs"},
        SummaryCase{test::k_vl_gothic, 1024, "grid 10x10, cell 99x97, font size 96.0, 172 glyphs"},
        SummaryCase{test::k_noto_cjk, 96, "grid 9x6, cell 9x14, font size 9.0, 172 glyphs"},
        SummaryCase{test::k_noto_cjk, 1024, "grid 10x7, cell 96x140, font size 96.0, 172 glyphs"}));

TEST(Atlas, FontWithoutKanaGivesGlyphZeroEverywhere) {
    auto [build, printed] = build_printing(test::k_dejavu_mono, 128, true);
    const std::vector<GlyphBitmap>& glyphs = build.atlas.glyphs;
    ASSERT_EQ(glyphs.size(), k_glyph_count);
    EXPECT_GT(glyphs[0].coverage.size(), 0u); // DejaVu's glyph 0 is a box
    for (const GlyphBitmap& glyph : glyphs) {
        EXPECT_EQ(glyph.coverage, glyphs[0].coverage);
        EXPECT_EQ(glyph.xmin, glyphs[0].xmin);
        EXPECT_EQ(glyph.ymin, glyphs[0].ymin);
    }
}

TEST(Atlas, FontWithoutLineMetricsUsesTheFallback) {
    test::TempDir dir;
    test::write_file(dir.file("flat.ttf"),
                     test::without_line_metrics(test::read_file(test::k_dejavu_mono)));
    auto [small, small_line] = build_printing(dir.file("flat.ttf"), 96, true);
    EXPECT_EQ(small.atlas.ascent, 9);
    EXPECT_EQ(small.atlas.cell_height, 12);
    auto [large, large_line] = build_printing(dir.file("flat.ttf"), 1024, true);
    EXPECT_EQ(large.atlas.ascent, 96);
    EXPECT_EQ(large.atlas.cell_height, 96 + 29);
    // The untouched font scales its own metrics instead.
    EXPECT_EQ(build_printing(test::k_dejavu_mono, 1024, true).first.atlas.cell_height, 113);
}

TEST(Atlas, CollectionIsLoadedAsItsFirstFace) {
    test::TempDir dir;
    const std::string vl = test::read_file(test::k_vl_gothic);
    const std::string dejavu = test::read_file(test::k_dejavu_mono);
    test::write_file(dir.file("vl-first.ttc"), test::make_collection({vl, dejavu}));
    test::write_file(dir.file("dejavu-first.ttc"), test::make_collection({dejavu, vl}));
    EXPECT_EQ(build_printing(dir.file("vl-first.ttc"), 96).second,
              "glyphRain: grid 8x8, cell 10x10, font size 9.0, 172 glyphs\n");
    EXPECT_EQ(build_printing(dir.file("dejavu-first.ttc"), 96).second,
              "glyphRain: grid 14x7, cell 6x12, font size 9.0, 172 glyphs\n");
}

/// FreeType's own unhinted, unmirrored rendering of one code point at font_px.
struct Reference {
    std::vector<std::uint8_t> pixels; // rows * width, top row first
    int width = 0;
    int rows = 0;
    int left = 0; // bitmap's left column from the origin
    int top = 0;  // bitmap's top edge above the baseline
    int advance = 0;
};

class FreeTypeFace {
  public:
    explicit FreeTypeFace(const std::string& path) {
        if (FT_Init_FreeType(&m_library) || FT_New_Face(m_library, path.c_str(), 0, &m_face))
            throw std::runtime_error("cannot open " + path);
    }
    ~FreeTypeFace() {
        FT_Done_Face(m_face);
        FT_Done_FreeType(m_library);
    }
    FreeTypeFace(const FreeTypeFace&) = delete;
    FreeTypeFace& operator=(const FreeTypeFace&) = delete;

    Reference render(char32_t code_point, float font_px) {
        Reference ref;
        FT_UInt index = FT_Get_Char_Index(m_face, code_point);
        EXPECT_EQ(FT_Load_Glyph(m_face, index, FT_LOAD_NO_SCALE), 0);
        ref.advance =
            static_cast<int>(std::ceil(static_cast<float>(m_face->glyph->metrics.horiAdvance) *
                                       (font_px / static_cast<float>(m_face->units_per_EM))));
        EXPECT_EQ(FT_Set_Char_Size(m_face, 0, std::lround(font_px * 64), 72, 72), 0);
        EXPECT_EQ(
            FT_Load_Glyph(m_face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_RENDER),
            0);
        const FT_Bitmap& bitmap = m_face->glyph->bitmap;
        ref.width = static_cast<int>(bitmap.width);
        ref.rows = static_cast<int>(bitmap.rows);
        ref.left = m_face->glyph->bitmap_left;
        ref.top = m_face->glyph->bitmap_top;
        for (int r = 0; r < ref.rows; ++r)
            for (int c = 0; c < ref.width; ++c)
                ref.pixels.push_back(bitmap.buffer[r * bitmap.pitch + c]);
        return ref;
    }

  private:
    FT_Library m_library = nullptr;
    FT_Face m_face = nullptr;
};

/// Coverage by pixel: x from the cell's left edge, y the pixel row above the baseline.
using Ink = std::map<std::pair<int, int>, int>;

/// The atlas entry as the compositor places it.
Ink drawn_ink(const GlyphBitmap& glyph) {
    Ink ink;
    const int w = static_cast<int>(glyph.width);
    const int h = static_cast<int>(glyph.height);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            if (int v = glyph.coverage[static_cast<std::size_t>(r * w + c)])
                ink[{glyph.xmin + c, glyph.ymin + h - 1 - r}] = v;
    return ink;
}

/// The reference placed at its origin, optionally mirrored inside its advance box.
Ink reference_ink(const Reference& ref, bool mirrored) {
    Ink ink;
    for (int r = 0; r < ref.rows; ++r)
        for (int c = 0; c < ref.width; ++c)
            if (int v = ref.pixels[static_cast<std::size_t>(r * ref.width + c)]) {
                const int x = ref.left + c;
                ink[{mirrored ? ref.advance - 1 - x : x, ref.top - 1 - r}] = v;
            }
    return ink;
}

int largest_difference(const Ink& a, const Ink& b) {
    int largest = 0;
    for (const auto& [at, v] : a) {
        auto other = b.find(at);
        largest = std::max(largest, std::abs(v - (other == b.end() ? 0 : other->second)));
    }
    for (const auto& [at, v] : b)
        if (!a.contains(at)) largest = std::max(largest, v);
    return largest;
}

// The two renderings scale the outline differently (float against 16.16 fixed point), so edge
// pixels may differ by a few levels (4 at most on these fonts); a misplaced or unmirrored glyph
// differs by far more.
constexpr int k_tolerance = 8;

TEST(Atlas, AsymmetricGlyphIsTheMirrorOfTheFontsRendering) {
    FreeTypeFace face(test::k_vl_gothic);
    for (std::uint64_t size : {96u, 1024u}) {
        SCOPED_TRACE(size);
        auto [build, printed] = build_printing(test::k_vl_gothic, size, true);
        const std::size_t katakana_a = 86 + (0x30A2 - 0x30A1); // ア
        const GlyphBitmap& glyph = build.atlas.glyphs[katakana_a];
        Reference ref = face.render(glyph_code_point(katakana_a), font_px_for(size));
        ASSERT_GT(ref.width, 2);
        EXPECT_LE(largest_difference(drawn_ink(glyph), reference_ink(ref, true)), k_tolerance);
        EXPECT_GT(largest_difference(drawn_ink(glyph), reference_ink(ref, false)), 128);
    }
}

class InkPlacement : public ::testing::TestWithParam<std::pair<std::string, std::uint64_t>> {};

TEST_P(InkPlacement, EveryGlyphLiesWhereTheMirroredFontGlyphLies) {
    const auto& [path, size] = GetParam();
    FreeTypeFace face(path);
    auto [build, printed] = build_printing(path, size, true);
    for (std::size_t i = 0; i < k_glyph_count; ++i) {
        SCOPED_TRACE(i);
        const GlyphBitmap& glyph = build.atlas.glyphs[i];
        Reference ref = face.render(glyph_code_point(i), font_px_for(size));
        // Every inked pixel inside the mirrored span of the font's bitmap.
        for (const auto& [at, v] : drawn_ink(glyph)) {
            EXPECT_GE(at.first, ref.advance - ref.left - ref.width);
            EXPECT_LT(at.first, ref.advance - ref.left);
            EXPECT_GE(at.second, ref.top - ref.rows);
            EXPECT_LT(at.second, ref.top);
        }
        EXPECT_LE(largest_difference(drawn_ink(glyph), reference_ink(ref, true)), k_tolerance);
        EXPECT_LE(static_cast<std::size_t>(ref.advance), build.atlas.cell_width);
    }
}

INSTANTIATE_TEST_SUITE_P(Fonts, InkPlacement,
                         ::testing::Values(std::pair{test::k_vl_gothic, std::uint64_t{96}},
                                           std::pair{test::k_vl_gothic, std::uint64_t{128}},
                                           std::pair{test::k_vl_gothic, std::uint64_t{1024}},
                                           std::pair{test::k_dejavu_mono, std::uint64_t{1024}}));

} // namespace
} // namespace glyphrain

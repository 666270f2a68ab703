// SPDX-License-Identifier: MIT
// The set-up checks without a server: the pixel format and visual rules and the connection
// error texts.
#include "display/x11/setup_checks.hpp"

#include <ostream>
#include <vector>

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

struct FormatCase {
    const char* name;
    std::vector<PixmapFormat> formats;
    std::uint8_t root_depth;
    std::optional<std::string> error;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.name;
}

class PixelFormatCheck : public ::testing::TestWithParam<FormatCase> {};

TEST_P(PixelFormatCheck, FirstFormatOfTheRootDepthDecides) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(pixel_format_check(c.formats, c.root_depth), c.error);
}

// The formats a typical server lists, with depth 24 stored in 32 bits.
const std::vector<PixmapFormat> k_usual = {{1, 1},   {4, 8},   {8, 8},  {15, 16},
                                           {16, 16}, {24, 32}, {32, 32}};

INSTANTIATE_TEST_SUITE_P(
    Formats, PixelFormatCheck,
    ::testing::Values(FormatCase{"depth24in32", k_usual, 24, std::nullopt},
                      FormatCase{"depth32", k_usual, 32, std::nullopt},
                      FormatCase{"depth24packed",
                                 {{1, 1}, {24, 24}, {32, 32}},
                                 24,
                                 "Unsupported pixel format: 24bpp at depth 24. Expected 32bpp."},
                      FormatCase{"depth16", k_usual, 16,
                                 "Unsupported pixel format: 16bpp at depth 16. Expected 32bpp."},
                      FormatCase{"depth15", k_usual, 15,
                                 "Unsupported pixel format: 16bpp at depth 15. Expected 32bpp."},
                      FormatCase{"depth8", k_usual, 8,
                                 "Unsupported pixel format: 8bpp at depth 8. Expected 32bpp."},
                      FormatCase{"depthUnlisted", {{1, 1}, {8, 8}}, 24, std::nullopt},
                      FormatCase{"noFormats", {}, 24, std::nullopt},
                      // Only the first entry for the depth counts, in the server's order.
                      FormatCase{"firstOf24Is32", {{24, 32}, {24, 24}}, 24, std::nullopt},
                      FormatCase{"firstOf24Is24",
                                 {{24, 24}, {24, 32}},
                                 24,
                                 "Unsupported pixel format: 24bpp at depth 24. Expected 32bpp."}),
    [](const ::testing::TestParamInfo<FormatCase>& p) { return std::string(p.param.name); });

struct VisualCase {
    const char* name;
    VisualFormat visual;
    std::uint8_t root_depth;
    std::optional<std::string> error;
};

void PrintTo(const VisualCase& c, std::ostream* os) {
    *os << c.name;
}

class VisualCheck : public ::testing::TestWithParam<VisualCase> {};

TEST_P(VisualCheck, OnlyEightBitTrueColorPasses) {
    const VisualCase& c = GetParam();
    EXPECT_EQ(visual_check(c.visual, c.root_depth), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Visuals, VisualCheck,
    ::testing::Values(
        VisualCase{"trueColor24", {}, 24, std::nullopt},
        VisualCase{"trueColor32", {}, 32, std::nullopt},
        VisualCase{"deepColor30",
                   {4, 0x3ff00000, 0xffc00, 0x3ff},
                   30,
                   "Unsupported pixel format: TrueColor visual at depth 30 with masks 0x3ff00000, "
                   "0xffc00, 0x3ff. Expected TrueColor with masks 0xff0000, 0xff00, 0xff."},
        VisualCase{"swappedChannels",
                   {4, 0xff, 0xff00, 0xff0000},
                   24,
                   "Unsupported pixel format: TrueColor visual at depth 24 with masks 0xff, "
                   "0xff00, 0xff0000. Expected TrueColor with masks 0xff0000, 0xff00, 0xff."},
        VisualCase{"directColor",
                   {5, 0xff0000, 0xff00, 0xff},
                   24,
                   "Unsupported pixel format: DirectColor visual at depth 24 with masks 0xff0000, "
                   "0xff00, 0xff. Expected TrueColor with masks 0xff0000, 0xff00, 0xff."}),
    [](const ::testing::TestParamInfo<VisualCase>& p) { return std::string(p.param.name); });

TEST(ConnectionErrors, EveryCodeHasItsOwnText) {
    std::vector<std::string> texts;
    for (int code = 1; code <= 7; ++code) {
        texts.push_back(describe_connection_error(code));
        EXPECT_FALSE(texts.back().empty());
        for (std::size_t i = 0; i + 1 < texts.size(); ++i)
            EXPECT_NE(texts[i], texts.back());
    }
    EXPECT_EQ(describe_connection_error(4), "a request is longer than the X server accepts");
    EXPECT_EQ(describe_connection_error(99), "unknown connection error 99");
}

} // namespace
} // namespace glyphrain

// SPDX-License-Identifier: MIT
#include "config/settings.hpp"

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace glyphrain {
namespace {

struct NumberCase {
    std::string text;
    std::optional<std::uint64_t> u64;
    std::optional<std::uint32_t> u32;
    std::optional<std::uint8_t> u8;
};

class NumberRuleTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberRuleTest, ParsesByWidth) {
    const auto& c = GetParam();
    EXPECT_EQ(parse_u64(c.text), c.u64) << c.text;
    EXPECT_EQ(parse_u32(c.text), c.u32) << c.text;
    EXPECT_EQ(parse_u8(c.text), c.u8) << c.text;
}

const auto k_none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberRuleTest,
    ::testing::Values(
        NumberCase{"0", 0, 0, 0}, NumberCase{"+200", 200, 200, 200}, NumberCase{"007", 7, 7, 7},
        NumberCase{"255", 255, 255, 255}, NumberCase{"256", 256, 256, k_none},
        NumberCase{"4294967295", 4294967295u, 4294967295u, k_none},
        NumberCase{"4294967296", 4294967296u, k_none, k_none},
        NumberCase{"18446744073709551615", 18446744073709551615u, k_none, k_none},
        NumberCase{"18446744073709551616", k_none, k_none, k_none},
        NumberCase{"", k_none, k_none, k_none}, NumberCase{"+", k_none, k_none, k_none},
        NumberCase{"-", k_none, k_none, k_none}, NumberCase{"-1", k_none, k_none, k_none},
        NumberCase{"++1", k_none, k_none, k_none}, NumberCase{" 1", k_none, k_none, k_none},
        NumberCase{"1 ", k_none, k_none, k_none}, NumberCase{"0x80", k_none, k_none, k_none},
        NumberCase{"1e3", k_none, k_none, k_none},
        NumberCase{"\xD9\xA1", k_none, k_none, k_none})); // Arabic-Indic digit one

TEST(ParseRgb, AcceptsThreeTrimmedParts) {
    const Rgb expected{180, 255, 180};
    for (const char* text : {"180,255,180", "180, 255, 180", " +180 ,255,180 ", "180,\t255 ,0180"})
        EXPECT_EQ(parse_rgb(text), expected) << text;
    EXPECT_EQ(parse_rgb("007,0,255"), (Rgb{7, 0, 255}));
}

TEST(ParseRgb, RejectsWrongCountsAndValues) {
    for (const char* text : {"1,2", "1,2,3,", "1,2,3,4", "256,0,0", "-1,0,0", "1,,3", "", ",,",
                             "1;2;3", "1 2 3", "0x1,2,3"})
        EXPECT_FALSE(parse_rgb(text)) << text;
}

TEST(IsZenburn, MatchesSevenLettersIgnoringAsciiCase) {
    EXPECT_TRUE(is_zenburn("zenburn"));
    EXPECT_TRUE(is_zenburn("ZenBurn"));
    EXPECT_TRUE(is_zenburn("ZENBURN"));
    EXPECT_FALSE(is_zenburn(" zenburn"));
    EXPECT_FALSE(is_zenburn("zenburn2"));
    EXPECT_FALSE(is_zenburn("zenbur"));
    EXPECT_FALSE(is_zenburn(""));
}

Settings with(auto change) {
    Settings s;
    change(s);
    return s;
}

/// n times the kana "a", three bytes each: a value long enough to be cut in a message.
std::string kana(int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "\xE3\x81\x82";
    return text;
}

struct ConfigCase {
    std::string name;
    std::string content;
    Settings expected;
    std::optional<std::string> ignored = std::nullopt; // "N: why" lines, then "+K"
};

class ParseConfigTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ParseConfigTest, GivesExpectedSettings) {
    IgnoredLines ignored;
    EXPECT_TRUE(parse_config(GetParam().content, &ignored) == GetParam().expected);
    std::string told;
    for (const IgnoredLines::Line& line : ignored.first)
        told += std::to_string(line.number) + ": " + line.why + "\n";
    if (ignored.count > ignored.first.size())
        told += "+" + std::to_string(ignored.count - ignored.first.size());
    if (GetParam().ignored) {
        EXPECT_EQ(told, *GetParam().ignored);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseConfigTest,
    ::testing::Values(
        ConfigCase{"empty", "", Settings{}},
        ConfigCase{"comments", "# size = 128\n   # speed = 20\n\n", Settings{}, ""},
        ConfigCase{"size_max", "size = 1024", with([](Settings& s) { s.size = 1024; })},
        ConfigCase{"size_out_of_range",
                   "size = 1025\nsize = 95\nsize = 0x80\nsize = 1e3\n"
                   "size = 128 # big\nsize = -100\n",
                   Settings{},
                   "1: size 1025 is out of range (96 to 1024)\n"
                   "2: size 95 is out of range (96 to 1024)\n3: size \"0x80\" is not a number\n"
                   "4: size \"1e3\" is not a number\n5: size \"128 # big\" is not a number\n+1"},
        ConfigCase{"size_plus", "size = +200", with([](Settings& s) { s.size = 200; })},
        ConfigCase{"bad_keeps_earlier", "size = 300\nsize = 2000",
                   with([](Settings& s) { s.size = 300; })},
        ConfigCase{"speed_no_spaces", "speed=10\nspeed = 9",
                   with([](Settings& s) { s.speed = 10; })},
        ConfigCase{"density",
                   "density = 100\ndensity = 0\ndensity = 4294967296\ndensity = " + kana(15),
                   with([](Settings& s) { s.density = 100; }),
                   "2: density 0 is out of range (1 to 100)\n"
                   "3: density 4294967296 is out of range (1 to 100)\n"
                   "4: density \"" +
                       kana(14) + "...\" is not a number\n"},
        ConfigCase{"key_case", "Size = 128\nSIZE=128\n\n\x1b[2J=128\n", Settings{},
                   "1: unknown key \"Size\"\n2: unknown key \"SIZE\"\n"
                   "4: unknown key \"?[2J\"\n"},
        ConfigCase{"byte_order_mark", "\xEF\xBB\xBFsize = 128", Settings{}},
        ConfigCase{"empty_text_keeps", "font = /a.ttf\nfont =\n",
                   with([](Settings& s) { s.font = "/a.ttf"; })},
        ConfigCase{"text_values",
                   "left_click = xterm -e top\nmiddle_click = a=b\nright_click = \"quoted\"\n"
                   "theme = solarized\n",
                   with([](Settings& s) {
                       s.left_click = "xterm -e top";
                       s.middle_click = "a=b";
                       s.right_click = "\"quoted\"";
                       s.theme = "solarized";
                   })},
        ConfigCase{"flags", "verbose = True\nquiet = yes\nbackground = true\n",
                   with([](Settings& s) { s.background = true; })},
        ConfigCase{"flag_off_later",
                   "verbose = true\nverbose = false\nquiet = true\nquiet =", Settings{}},
        ConfigCase{"color_invalid_later", "color = 10,20,30\ncolor = 1,2\ncolor = 256, 0, 0",
                   with([](Settings& s) {
                       s.color = {10, 20, 30};
                   }),
                   "2: color \"1,2\" is not three numbers 0 to 255 (R, G, B)\n"
                   "3: color \"256, 0, 0\" is not three numbers 0 to 255 (R, G, B)\n"},
        ConfigCase{"zenburn", "theme = ZenBurn", with([](Settings& s) {
                       s.theme = "ZenBurn";
                       s.color = k_zenburn_color;
                       s.trail_color = k_zenburn_trail_color;
                   })},
        ConfigCase{"zenburn_explicit_color_wins", "color = 1, 2, 3\ntheme = zenburn",
                   with([](Settings& s) {
                       s.theme = "zenburn";
                       s.color = {1, 2, 3};
                       s.trail_color = k_zenburn_trail_color;
                   })},
        ConfigCase{"zenburn_invalid_color_does_not_protect", "theme = zenburn\ncolor = 1,2",
                   with([](Settings& s) {
                       s.theme = "zenburn";
                       s.color = k_zenburn_color;
                       s.trail_color = k_zenburn_trail_color;
                   })},
        ConfigCase{"placement",
                   "corner = bottom-left\ncorner = middle\nmargin = +10000\nmargin = 20000\n"
                   "margin = 8px\nlayer = overlay\nlayer = Top\noutput = DP-1\noutput =\n",
                   with([](Settings& s) {
                       s.corner = Corner::bottom_left;
                       s.margin = 10000;
                       s.layer = Layer::overlay;
                       s.output = "DP-1";
                   }),
                   "2: corner \"middle\" is not one of top-left, top-right, bottom-left, "
                   "bottom-right\n4: margin 20000 is out of range (0 to 10000)\n"
                   "5: margin \"8px\" is not a number\n"
                   "7: layer \"Top\" is not one of background, bottom, top, overlay\n"},
        ConfigCase{"crlf", "size = 128\r\ndensity = 50\r\n", with([](Settings& s) {
                       s.size = 128;
                       s.density = 50;
                   })},
        ConfigCase{"invalid_utf8_anywhere", "size = 128\nfont = \xFF\n", Settings{}},
        ConfigCase{"no_equals_and_unknown", "size 128\nwidth = 3\n=\n", Settings{},
                   "1: \"size 128\" is not a key = value line\n2: unknown key \"width\"\n"
                   "3: unknown key \"\"\n"},
        ConfigCase{"unicode_space_trimmed",
                   "\xE3\x80\x80size\xC2\xA0=\xC2\xA0"
                   "128\xE2\x80\xA8",
                   with([](Settings& s) { s.size = 128; })}),
    [](const auto& p) { return p.param.name; });

TEST(LoadConfig, MissingOrUnreadableFilesGiveDefaults) {
    test::TempDir dir;
    EXPECT_TRUE(load_config(std::nullopt) == Settings{});
    EXPECT_TRUE(load_config(dir.file("missing")) == Settings{});
    EXPECT_TRUE(load_config(dir.path()) == Settings{});
    EXPECT_TRUE(load_config("/dev/zero") == Settings{});
    test::write_file(dir.file("config"), "size = 512\n");
    EXPECT_EQ(load_config(dir.file("config")).size, 512u);
    // Up to 1 MiB is read; one byte more and the file counts as unreadable.
    std::string big = "size = 512\n#";
    big.resize(k_max_config_bytes - 1, 'x');
    test::write_file(dir.file("big"), big + "\n");
    EXPECT_EQ(load_config(dir.file("big")).size, 512u);
    test::write_file(dir.file("big"), big + "\n\n");
    EXPECT_TRUE(load_config(dir.file("big")) == Settings{});
}

} // namespace
} // namespace glyphrain

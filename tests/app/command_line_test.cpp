// SPDX-License-Identifier: MIT
#include "app/command_line.hpp"

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

ArgList args_of(std::initializer_list<const char*> rest) {
    ArgList a{"glyphRain"};
    a.insert(a.end(), rest.begin(), rest.end());
    return a;
}

struct UnknownCase {
    ArgList args;
    std::optional<std::string> unknown;
};

class UnknownOptionTest : public ::testing::TestWithParam<UnknownCase> {};

TEST_P(UnknownOptionTest, FindsTheFirstUnknownOption) {
    EXPECT_EQ(find_unknown_option(GetParam().args), GetParam().unknown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnknownOptionTest,
    ::testing::Values(UnknownCase{args_of({}), std::nullopt},
                      UnknownCase{args_of({"--size=200"}), "--size=200"},
                      UnknownCase{args_of({"--"}), "--"},
                      UnknownCase{args_of({"-size", "x", "-", "plain"}), std::nullopt},
                      UnknownCase{args_of({"--size", "--bogus"}), std::nullopt}, // value skipped
                      UnknownCase{args_of({"--quiet", "--bogus"}), "--bogus"},
                      UnknownCase{args_of({"--theme"}), std::nullopt},
                      UnknownCase{args_of({"--corner", "--x", "--margin", "--y", "--layer", "--z",
                                           "--output", "--w", "--nope"}),
                                  "--nope"},
                      UnknownCase{args_of({"--write-config", "--nope"}), "--nope"},
                      UnknownCase{args_of({"--version", "--nope"}), "--nope"},
                      UnknownCase{args_of({"--config", "a", "--Size", "1"}), "--Size"},
                      UnknownCase{ArgList{"--bogus-program-name"}, std::nullopt}));

struct ApplyCase {
    std::string name;
    ArgList args;
    std::function<void(Settings&)> expect;
};

class ApplyCommandLineTest : public ::testing::TestWithParam<ApplyCase> {};

TEST_P(ApplyCommandLineTest, OverridesTheFile) {
    Settings file;
    file.size = 256;
    file.color = {1, 2, 3};
    Settings expected = file;
    GetParam().expect(expected);
    Settings actual = file;
    apply_command_line(actual, GetParam().args);
    EXPECT_TRUE(actual == expected);
}

/// Valid placement values, each followed by an invalid one that leaves it in place.
const ArgList k_placement_args = args_of(
    {"--corner", "bottom-right", "--corner", "Top-Left", "--margin", "+10000", "--margin", "10001",
     "--layer", "background", "--layer", "middle", "--output", "HEADLESS-1", "--output", ""});

void with_placement(Settings& s) {
    s.corner = Corner::bottom_right;
    s.margin = 10000;
    s.layer = Layer::background;
    s.output = "HEADLESS-1";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplyCommandLineTest,
    ::testing::Values(ApplyCase{"nothing", args_of({}), [](Settings&) {}},
                      ApplyCase{"size", args_of({"--size", "128"}),
                                [](Settings& s) { s.size = 128; }},
                      ApplyCase{"size_out_of_range", args_of({"--size", "2000"}), [](Settings&) {}},
                      ApplyCase{"size_bounds", args_of({"--size", "1024", "--size", "1025"}),
                                [](Settings& s) { s.size = 1024; }},
                      ApplyCase{"last_valid_wins", args_of({"--size", "200", "--size", "300"}),
                                [](Settings& s) { s.size = 300; }},
                      ApplyCase{"invalid_later_ignored",
                                args_of({"--size", "300", "--size", "big"}),
                                [](Settings& s) { s.size = 300; }},
                      ApplyCase{"leading_space_invalid", args_of({"--size", " 128"}),
                                [](Settings&) {}},
                      ApplyCase{"speed",
                                args_of({"--speed", "5", "--speed", "+80", "--speed", "-80"}),
                                [](Settings& s) { s.speed = 80; }},
                      ApplyCase{"speed_max", args_of({"--speed", "1000"}),
                                [](Settings& s) { s.speed = 1000; }},
                      ApplyCase{"density", args_of({"--density", "100", "--density", "0"}),
                                [](Settings& s) { s.density = 100; }},
                      ApplyCase{"placement", k_placement_args, with_placement},
                      ApplyCase{"value_is_option", args_of({"--size", "--speed", "50"}),
                                [](Settings& s) { s.speed = 50; }},
                      ApplyCase{"font_empty", args_of({"--font", ""}),
                                [](Settings& s) { s.font = ""; }},
                      ApplyCase{"font_any", args_of({"--font", "--quiet"}),
                                [](Settings& s) {
                                    s.font = "--quiet";
                                    s.quiet = true;
                                }},
                      ApplyCase{"theme_zenburn_wins_over_file_colour",
                                args_of({"--theme", "ZenBurn"}),
                                [](Settings& s) {
                                    s.theme = "ZenBurn";
                                    s.color = k_zenburn_color;
                                    s.trail_color = k_zenburn_trail_color;
                                }},
                      ApplyCase{"theme_other", args_of({"--theme", "solarized"}),
                                [](Settings& s) { s.theme = "solarized"; }},
                      ApplyCase{"theme_last", args_of({"--theme"}), [](Settings&) {}},
                      ApplyCase{"flags", args_of({"--verbose", "--quiet", "--background"}),
                                [](Settings& s) { s.verbose = s.quiet = s.background = true; }},
                      ApplyCase{"flag_as_program_name",
                                ArgList{"--quiet"}, [](Settings& s) { s.quiet = true; }},
                      ApplyCase{"flag_as_value", args_of({"--theme", "--background"}),
                                [](Settings& s) {
                                    s.theme = "--background";
                                    s.background = true;
                                }}),
    [](const auto& p) { return p.param.name; });

TEST(ApplyCommandLine, NeverSwitchesAFlagOff) {
    Settings s;
    s.quiet = s.verbose = s.background = true;
    apply_command_line(s, args_of({"--size", "100"}));
    EXPECT_TRUE(s.quiet && s.verbose && s.background);
}

struct ConfigOptionCase {
    ArgList args;
    std::optional<std::string> named;
};

class ConfigOptionTest : public ::testing::TestWithParam<ConfigOptionCase> {};

TEST_P(ConfigOptionTest, TakesTheValueOfTheFirstConfigOption) {
    EXPECT_EQ(config_option(GetParam().args), GetParam().named);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigOptionTest,
    ::testing::Values(ConfigOptionCase{args_of({}), std::nullopt},
                      ConfigOptionCase{args_of({"--config", "/tmp/a.conf"}), "/tmp/a.conf"},
                      ConfigOptionCase{args_of({"--config", "a", "--config", "b"}), "a"},
                      // An empty first value is passed on, for config_path to fall back from.
                      ConfigOptionCase{args_of({"--config", "", "--config", "b"}), ""},
                      ConfigOptionCase{args_of({"--config"}), std::nullopt}));

TEST(DockSlitFromArgs, TakesTheFirstOccurrenceOnly) {
    EXPECT_EQ(dock_slit_from_args(args_of({"--dock", "2", "--dock", "3"})), 2u);
    EXPECT_EQ(dock_slit_from_args(args_of({"--dock", "+4294967295"})), 4294967295u);
    EXPECT_EQ(dock_slit_from_args(args_of({"--dock", "4294967296"})), std::nullopt);
    EXPECT_EQ(dock_slit_from_args(args_of({"--dock", "two", "--dock", "3"})), std::nullopt);
    EXPECT_EQ(dock_slit_from_args(args_of({"--dock"})), std::nullopt);
    EXPECT_EQ(dock_slit_from_args(args_of({})), std::nullopt);
}

} // namespace
} // namespace glyphrain

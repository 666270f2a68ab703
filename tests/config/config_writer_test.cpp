// SPDX-License-Identifier: MIT
// The annotated text, its round trip through the reader, the refused values and the default file.
#include "config/config_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"
#include "system/error.hpp"
#include "system/replace_file.hpp"

namespace glyphrain {
namespace {

namespace fs = std::filesystem;

const std::string k_default_text = R"(# glyphRain configuration
# See: glyphRain --help

# Window size in pixels, 96 to 1024 (96 and 128 are the classic sizes)
# size = 96

# Frame interval in milliseconds (10-1000)
# speed = 80

# Percentage of columns active at once (1-100)
# density = 75

# Font file path (leave commented for auto-detect via fontconfig)
# A CJK-capable font is preferred for Japanese characters
# font = /path/to/font.ttf

# Color theme: zenburn
# theme =

# Head color (R, G, B) )"
                                   "\xE2\x80\x94"
                                   R"( bright leading character
# color = 180, 255, 180

# Trail color (R, G, B) )"
                                   "\xE2\x80\x94"
                                   R"( fading trail characters
# trail_color = 0, 200, 0

# Left click command
# left_click =

# Middle click command (default: reload config)
# middle_click =

# Right click command
# right_click =

# Enable verbose output
# verbose = false

# Suppress informational output
# quiet = false

# Run in the background
# background = true

# Wayland surface corner: top-left, top-right, bottom-left, bottom-right (X11 ignores it)
# corner = top-right
# Wayland surface margin from the corner's edges in pixels, 0 to 10000 (X11 ignores it)
# margin = 0
# Wayland surface layer: background, bottom, top, overlay (X11 ignores it)
# layer = top
# Wayland output by name, e.g. DP-1 (default: the compositor's choice; X11 ignores it)
# output =
)";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

TEST(RenderConfig, DefaultsGiveTheExactCommentedFile) {
    const std::string text = render_config(Settings{});
    EXPECT_EQ(text, k_default_text);
    EXPECT_EQ(text.size(), 1275u);
    EXPECT_EQ(lines_of(text).size(), 51u);
    EXPECT_TRUE(text.ends_with("# output =\n"));
}

struct ActiveLineCase {
    std::string name;
    std::function<void(Settings&)> change;
    std::size_t line; // 1-based line that changes
    std::string expected;
    friend void PrintTo(const ActiveLineCase& c, std::ostream* os) { *os << c.name; }
};

class ActiveLineTest : public ::testing::TestWithParam<ActiveLineCase> {};

TEST_P(ActiveLineTest, OnlyTheChangedSettingBecomesActive) {
    Settings settings;
    GetParam().change(settings);
    std::vector<std::string> lines = lines_of(render_config(settings));
    std::vector<std::string> defaults = lines_of(k_default_text);
    ASSERT_EQ(lines.size(), 51u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i + 1 == GetParam().line)
            EXPECT_EQ(lines[i], GetParam().expected);
        else
            EXPECT_EQ(lines[i], defaults[i]) << "line " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ActiveLineTest,
    ::testing::Values(
        ActiveLineCase{"size", [](Settings& s) { s.size = 128; }, 5, "size = 128"},
        ActiveLineCase{"speed", [](Settings& s) { s.speed = 1000; }, 8, "speed = 1000"},
        ActiveLineCase{"density", [](Settings& s) { s.density = 1; }, 11, "density = 1"},
        ActiveLineCase{"font", [](Settings& s) { s.font = "/f/a b.ttf"; }, 15, "font = /f/a b.ttf"},
        ActiveLineCase{"empty_font", [](Settings& s) { s.font = ""; }, 15, "font = "},
        ActiveLineCase{"theme", [](Settings& s) { s.theme = "solarized"; }, 18,
                       "theme = solarized"},
        ActiveLineCase{"empty_theme", [](Settings& s) { s.theme = ""; }, 18, "theme = "},
        ActiveLineCase{"color",
                       [](Settings& s) {
                           s.color = {1, 2, 3};
                       },
                       21, "color = 1, 2, 3"},
        ActiveLineCase{"trail_color",
                       [](Settings& s) {
                           s.trail_color = {255, 0, 0};
                       },
                       24, "trail_color = 255, 0, 0"},
        // A default colour under the zenburn theme stays commented: reading back gives the theme's.
        ActiveLineCase{"zenburn_default_colors", [](Settings& s) { s.theme = "zenburn"; }, 18,
                       "theme = zenburn"},
        ActiveLineCase{"left_click", [](Settings& s) { s.left_click = "xterm -e top"; }, 27,
                       "left_click = xterm -e top"},
        ActiveLineCase{"middle_click", [](Settings& s) { s.middle_click = "a=b \"q\""; }, 30,
                       "middle_click = a=b \"q\""},
        ActiveLineCase{"right_click", [](Settings& s) { s.right_click = "x"; }, 33,
                       "right_click = x"},
        ActiveLineCase{"verbose", [](Settings& s) { s.verbose = true; }, 36, "verbose = true"},
        ActiveLineCase{"quiet", [](Settings& s) { s.quiet = true; }, 39, "quiet = true"},
        ActiveLineCase{"background", [](Settings& s) { s.background = true; }, 42,
                       "background = true"},
        ActiveLineCase{"corner", [](Settings& s) { s.corner = Corner::top_left; }, 45,
                       "corner = top-left"},
        ActiveLineCase{"margin", [](Settings& s) { s.margin = 8; }, 47, "margin = 8"},
        ActiveLineCase{"layer", [](Settings& s) { s.layer = Layer::overlay; }, 49,
                       "layer = overlay"},
        ActiveLineCase{"output", [](Settings& s) { s.output = "DP-1"; }, 51, "output = DP-1"}),
    [](const ::testing::TestParamInfo<ActiveLineCase>& param) { return param.param.name; });

TEST(RenderConfig, ReadsBackToTheSameSettings) {
    Settings s;
    s.size = 1024;
    s.speed = 10;
    s.density = 100;
    s.font = "/usr/share/fonts/日本語 font.ttf";
    s.theme = "solarized";
    s.color = {0, 0, 0};
    s.trail_color = {255, 255, 255};
    s.left_click = "xterm -e 'top'";
    s.middle_click = "notify-send a=b";
    s.right_click = "sh -c \"echo # not a comment\"";
    s.verbose = s.quiet = s.background = true;
    s.corner = Corner::bottom_right;
    s.margin = 10000;
    s.layer = Layer::background;
    s.output = "HEADLESS-1";
    EXPECT_EQ(parse_config(render_config(s)), s);

    Settings zen;
    zen.theme = "ZenBurn";
    zen.color = k_zenburn_color;
    zen.trail_color = {1, 2, 3};
    EXPECT_EQ(parse_config(render_config(zen)), zen);
}

struct RefusedValueCase {
    std::string name;
    std::function<void(Settings&)> change;
    std::string message;
    friend void PrintTo(const RefusedValueCase& c, std::ostream* os) { *os << c.name; }
};

class RefusedValueTest : public ::testing::TestWithParam<RefusedValueCase> {};

TEST_P(RefusedValueTest, NamesTheSettingAndWritesNothing) {
    test::TempDir dir;
    const std::string path = dir.file("config");
    test::write_file(path, "size = 512\n");
    Settings s;
    GetParam().change(s);
    try {
        write_config(path, s);
        ADD_FAILURE() << "written";
    } catch (const AppError& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
    EXPECT_EQ(test::read_file(path), "size = 512\n");
    EXPECT_EQ(test::directory_entries(dir.path()), std::vector<std::string>{"config"});
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedValueTest,
    ::testing::Values(
        RefusedValueCase{"theme_line_feed",
                         [](Settings& s) { s.theme = "x\nleft_click = rm -rf ~"; },
                         "Refusing to write theme: the value contains a line break"},
        RefusedValueCase{"font_carriage_return", [](Settings& s) { s.font = "/a.ttf\r"; },
                         "Refusing to write font: the value contains a line break"},
        RefusedValueCase{"left_click", [](Settings& s) { s.left_click = "a\nb"; },
                         "Refusing to write left_click: the value contains a line break"},
        RefusedValueCase{"middle_click", [](Settings& s) { s.middle_click = "\n"; },
                         "Refusing to write middle_click: the value contains a line break"},
        RefusedValueCase{"right_click", [](Settings& s) { s.right_click = "a\r\nb"; },
                         "Refusing to write right_click: the value contains a line break"},
        RefusedValueCase{"output", [](Settings& s) { s.output = "DP-1\nlayer = overlay"; },
                         "Refusing to write output: the value contains a line break"},
        // Invalid UTF-8 would make the reader drop the whole file, every other setting with it.
        RefusedValueCase{"font_not_utf8", [](Settings& s) { s.font = "/fonts/\xff.ttf"; },
                         "Refusing to write font: the value is not valid UTF-8"}),
    [](const ::testing::TestParamInfo<RefusedValueCase>& param) { return param.param.name; });

/// What is at the configuration path when a reload looks, and what is there after it.
enum class Before { nothing, user_file, user_file_saved_meanwhile, file_for_directory };
enum class After { default_text, user_text, nothing };

struct MissingConfigCase {
    std::string name;
    Before before;
    bool quiet;
    std::string expected_err; // {} stands for the path
    After after;
    friend void PrintTo(const MissingConfigCase& c, std::ostream* os) { *os << c.name; }
};

const std::string k_user_text = "size = 512\n";

/// A no-replace rename that finds the user's file saved at the target first, as when an editor
/// saves between the reload's look and its publish.
int save_meanwhile_then_rename(const char* from, const char* to) {
    test::write_file(to, k_user_text);
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

class WriteDefaultConfigTest : public ::testing::TestWithParam<MissingConfigCase> {};

TEST_P(WriteDefaultConfigTest, WritesOnlyWhenMissingAndReports) {
    test::TempDir dir;
    const std::string path = dir.file("glyphRain/config");
    RenameNoReplace kernel_rename = nullptr;
    switch (GetParam().before) {
    case Before::nothing:
        break;
    case Before::user_file:
        fs::create_directories(dir.file("glyphRain"));
        test::write_file(path, k_user_text);
        break;
    case Before::user_file_saved_meanwhile:
        kernel_rename = swap_rename_noreplace(save_meanwhile_then_rename);
        break;
    case Before::file_for_directory:
        test::write_file(dir.file("glyphRain"), "a plain file where the directory should be");
        break;
    }
    Settings s;
    s.quiet = GetParam().quiet;
    ::testing::internal::CaptureStderr();
    write_default_config_if_missing(path, s);
    std::string err = ::testing::internal::GetCapturedStderr();
    if (kernel_rename) swap_rename_noreplace(kernel_rename);

    std::string expected = GetParam().expected_err;
    if (auto at = expected.find("{}"); at != std::string::npos) expected.replace(at, 2, path);
    EXPECT_EQ(err, expected);
    switch (GetParam().after) {
    case After::default_text:
        EXPECT_EQ(test::read_file(path), render_config(s));
        break;
    case After::user_text:
        EXPECT_EQ(test::read_file(path), k_user_text);
        EXPECT_EQ(test::directory_entries(dir.file("glyphRain")),
                  std::vector<std::string>{"config"});
        break;
    case After::nothing:
        EXPECT_FALSE(test::file_exists(path));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteDefaultConfigTest,
    ::testing::Values(
        MissingConfigCase{"missing", Before::nothing, false,
                          "glyphRain: wrote default config to {}\n", After::default_text},
        MissingConfigCase{"missing_quiet", Before::nothing, true, "", After::default_text},
        MissingConfigCase{"present", Before::user_file, false, "", After::user_text},
        // The user's file wins over the default even when it appears after the look.
        MissingConfigCase{"saved_meanwhile", Before::user_file_saved_meanwhile, false, "",
                          After::user_text},
        // A failure is reported even when quiet, with the file it concerns.
        MissingConfigCase{"unwritable_quiet", Before::file_for_directory, true,
                          "glyphRain: failed to write config {}: " + os_error_text(ENOTDIR) + "\n",
                          After::nothing}),
    [](const ::testing::TestParamInfo<MissingConfigCase>& param) { return param.param.name; });

TEST(WriteDefaultConfig, ReportsRefusedValuesAndWritesNothing) {
    test::TempDir dir;
    Settings s;
    s.quiet = true;
    s.theme = "a\nb";
    ::testing::internal::CaptureStderr();
    write_default_config_if_missing(dir.file("new"), s);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "glyphRain: failed to write config " + dir.file("new") +
                  ": Refusing to write theme: the value contains a line break\n");
    EXPECT_FALSE(test::file_exists(dir.file("new")));
}

} // namespace
} // namespace glyphrain

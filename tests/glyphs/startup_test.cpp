// SPDX-License-Identifier: MIT
// The binary's font and grid lines and its fatal font errors, up to where the window would open.
#include <gtest/gtest.h>

#include "font_fixtures.hpp"
#include "support/process_runner.hpp"
#include "support/temp_dir.hpp"

namespace glyphrain {
namespace {

using test::TempDir;

/// Runs glyphRain in run mode with a private HOME and no display, so that it stops with an
/// error once the font work is done.
class Startup : public ::testing::Test {
  protected:
    test::ProcessResult run(std::vector<std::string> args, std::optional<std::string> path = {}) {
        test::ProcessOptions options{.args = std::move(args),
                                     .env = {{"HOME", m_home.path()},
                                             {"XDG_CONFIG_HOME", m_home.file("config")},
                                             {"DISPLAY", std::nullopt}},
                                     .timeout_ms = 20000};
        if (path) options.env["PATH"] = *path;
        test::ProcessResult r = test::run_process(test::glyphrain_binary(), options);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.out, "");
        return r;
    }
    /// The lines up to the first "Error: " line, which is left out.
    static std::string before_error(const std::string& err) {
        return err.substr(0, err.find("Error: "));
    }

    TempDir m_home;
    TempDir m_files;
};

struct FontLinesCase {
    const char* name;
    std::string font;  // an installed font
    std::uint16_t cut; // kana cut from its character map first
    std::string lines; // after the "using font" line; {font} stands for the file used
    friend void PrintTo(const FontLinesCase& c, std::ostream* os) { *os << c.name; }
};

class FontLines : public Startup, public ::testing::WithParamInterface<FontLinesCase> {};

TEST_P(FontLines, NameTheFontTheGridAndAnyMissingKana) {
    const FontLinesCase& c = GetParam();
    std::string font = c.font;
    if (c.cut > 0) {
        font = m_files.file("cut.ttf");
        test::write_file(font, test::without_first_kana(test::read_file(c.font), c.cut));
    }
    auto r = run({"--font", font});
    std::string lines = c.lines;
    if (auto at = lines.find("{font}"); at != std::string::npos) lines.replace(at, 6, font);
    EXPECT_EQ(before_error(r.err), "glyphRain: using font " + font + "\n" + lines);
    EXPECT_EQ(r.status, 1); // no display to open
}

const std::string k_kana_advice = " kana, which show as empty boxes; install fonts-noto-cjk or "
                                  "fonts-vlgothic, or choose a font with --font\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, FontLines,
    ::testing::Values(FontLinesCase{"NoKana", test::k_dejavu_mono, 0,
                                    "glyphRain: grid 14x7, cell 6x12, font size 9.0, 172 glyphs\n"
                                    "glyphRain: warning: {font} lacks 172 of the 172" +
                                        k_kana_advice},
                      FontLinesCase{"SomeKanaMissing", test::k_vl_gothic, 5,
                                    "glyphRain: grid 8x8, cell 10x10, font size 9.0, 172 glyphs\n"
                                    "glyphRain: warning: {font} lacks 5 of the 172" +
                                        k_kana_advice}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Startup, ConfiguredFontAndSizeComeFromTheFile) {
    ::mkdir(m_home.file("config").c_str(), 0700);
    ::mkdir(m_home.file("config/glyphRain").c_str(), 0700);
    test::write_file(m_home.file("config/glyphRain/config"),
                     "font = " + test::k_vl_gothic + "\nsize = 1024\n");
    auto r = run({});
    EXPECT_EQ(before_error(r.err), "glyphRain: using font " + test::k_vl_gothic +
                                       "\nglyphRain: grid 10x10, cell 99x97, font size 96.0, 172 "
                                       "glyphs\n");
}

TEST_F(Startup, QuietPrintsNeitherLine) {
    auto r = run({"--quiet", "--font", test::k_dejavu_mono});
    EXPECT_EQ(before_error(r.err), "");
    EXPECT_EQ(r.status, 1);
}

TEST_F(Startup, QueryAnswerIsNamedWithItsPattern) {
    test::FakeFcMatch fc;
    fc.answer_ja(test::k_vl_gothic + "\n");
    auto r = run({"--size", "128"}, fc.bin() + ":/usr/bin:/bin");
    EXPECT_EQ(before_error(r.err), "glyphRain: using font " + test::k_vl_gothic +
                                       " (query: monospace:lang=ja)\nglyphRain: grid 9x9, cell "
                                       "13x13, font size 12.0, 172 glyphs\n");
}

TEST_F(Startup, NonFontFromTheFirstQueryIsFatalDespiteUsableFallbacks) {
    test::FakeFcMatch fc;
    test::write_file(m_files.file("notes.txt"), std::string(4096, 'x'));
    fc.answer_ja(m_files.file("notes.txt"));
    fc.answer_mono(test::k_dejavu_mono);
    auto r = run({}, fc.bin() + ":/usr/bin:/bin");
    EXPECT_EQ(r.err, "glyphRain: using font " + m_files.file("notes.txt") +
                         " (query: monospace:lang=ja)\n"
                         "Error: \"Failed to parse font: unknown file format\"\n");
    EXPECT_EQ(r.status, 1);
}

struct FatalCase {
    const char* name;
    std::string font; // {dir} stands for a temporary directory with the test files
    std::string err;
};

class StartupFails : public Startup, public ::testing::WithParamInterface<FatalCase> {};

TEST_P(StartupFails, WithOneErrorLine) {
    test::write_sparse_file(m_files.file("huge.ttf"), 67108865);
    test::write_file(m_files.file("empty.ttf"), "");
    test::write_file(m_files.file("tall.ttf"),
                     test::with_ascender(test::read_file(test::k_dejavu_mono), 28672));
    auto expand = [&](std::string text) {
        for (auto at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}"))
            text.replace(at, 5, m_files.path());
        return text;
    };
    auto r = run({"--font", expand(GetParam().font)});
    EXPECT_EQ(r.err, expand(GetParam().err));
    EXPECT_EQ(r.status, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupFails,
    ::testing::Values(
        FatalCase{"EmptySetting", "",
                  "Error: \"Cannot read font '': No such file or directory (os error 2)\"\n"},
        FatalCase{"Directory", "{dir}",
                  "Error: \"Cannot read font '{dir}': Is a directory (os error 21)\"\n"},
        FatalCase{"OverTheCap", "{dir}/huge.ttf",
                  "Error: \"Cannot read font '{dir}/huge.ttf': Font file too large (67108865 "
                  "bytes, max 67108864 bytes)\"\n"},
        FatalCase{"EmptyFile", "{dir}/empty.ttf",
                  "glyphRain: using font {dir}/empty.ttf\n"
                  "Error: \"Failed to parse font: invalid stream operation\"\n"},
        FatalCase{"CellTallerThanHalfTheWindow", "{dir}/tall.ttf",
                  "glyphRain: using font {dir}/tall.ttf\n"
                  "glyphRain: grid 14x0, cell 6x129, font size 9.0, 172 glyphs\n"
                  "Error: \"Font cell 6x129 is too large for a 96 px window (needs at least 1 "
                  "column and 2 rows)\"\n"}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace glyphrain

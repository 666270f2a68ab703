// SPDX-License-Identifier: MIT
// Reading, discovering and parsing fonts: size cap, fc-match answers, fallback paths, messages.
#include "glyphs/font.hpp"

#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "font_fixtures.hpp"
#include "glyphs/atlas_builder.hpp"
#include "support/temp_dir.hpp"
#include "system/error.hpp"

namespace glyphrain {
namespace {

using test::FakeFcMatch;
using test::ScopedPath;
using test::TempDir;

std::string text_of(const FontBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string error_of(const std::string& path) {
    try {
        read_font_file(path);
        return "<read>";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

TEST(ReadFontFile, ReadsFilesUpToTheCapAndRefusesLargerOrChangingOnes) {
    TempDir dir;
    test::write_file(dir.file("a.ttf"), "font bytes");
    test::write_file(dir.file("empty.ttf"), "");
    test::write_sparse_file(dir.file("cap.ttf"), k_max_font_bytes);
    test::write_sparse_file(dir.file("over.ttf"), k_max_font_bytes + 1);
    ASSERT_EQ(::symlink("a.ttf", dir.file("link.ttf").c_str()), 0);

    EXPECT_EQ(text_of(read_font_file(dir.file("a.ttf"))), "font bytes");
    EXPECT_EQ(text_of(read_font_file(dir.file("link.ttf"))), "font bytes");
    EXPECT_TRUE(read_font_file(dir.file("empty.ttf")).empty());
    EXPECT_EQ(read_font_file(dir.file("cap.ttf")).size(), 67108864u);
    EXPECT_EQ(error_of(dir.file("over.ttf")),
              "Font file too large (67108865 bytes, max 67108864 bytes)");
    EXPECT_EQ(error_of(""), "No such file or directory (os error 2)");
    EXPECT_EQ(error_of(dir.path()), "Is a directory (os error 21)");
    // Holds more than its size says, as a font does when rewritten while read: what was read is
    // no font file, and reading must not trust the size either.
    EXPECT_EQ(error_of("/proc/self/status"), "Font file changed while it was read");
    // A rewrite of the same size between the two looks is told by its time of change alone.
    struct stat before {};
    ASSERT_EQ(::stat(dir.file("a.ttf").c_str(), &before), 0);
    struct stat after = before;
    EXPECT_TRUE(same_version(before, after));
    after.st_mtim.tv_nsec = (before.st_mtim.tv_nsec + 1) % 1'000'000'000;
    EXPECT_FALSE(same_version(before, after));
}

const std::string k_ja_call = "[--format][%{file}][monospace:lang=ja]\n";
const std::string k_mono_call = "[--format][%{file}][monospace]\n";

/// Font files the discovery tests pick between; each holds its own name as content.
class Discovery : public ::testing::Test {
  protected:
    Discovery() {
        for (const char* name : {"ja.ttf", "mono.ttf", "fallback.ttf", "a\xEF\xBF\xBD.ttf"})
            test::write_file(m_fonts.file(name), name);
        test::write_sparse_file(m_fonts.file("huge.ttf"), k_max_font_bytes + 1);
        ::mkdir(m_fonts.file("dir.ttf").c_str(), 0700);
    }
    std::string font(const std::string& name) const { return m_fonts.file(name); }

    /// find_font with the fake fc-match alone on PATH; returns the chosen file's content and
    /// keeps what was printed in m_err.
    std::string discover(const std::vector<std::string>& fallbacks, bool quiet = false) {
        std::vector<std::string_view> views(fallbacks.begin(), fallbacks.end());
        Settings settings;
        settings.quiet = quiet;
        ScopedPath path(m_fc.bin());
        ::testing::internal::CaptureStderr();
        try {
            FoundFont found = find_font(settings, views);
            m_err = ::testing::internal::GetCapturedStderr();
            return text_of(found.bytes);
        } catch (...) {
            m_err = ::testing::internal::GetCapturedStderr();
            throw;
        }
    }

    TempDir m_fonts;
    FakeFcMatch m_fc;
    std::string m_err;
};

TEST_F(Discovery, FirstQueryAnswerIsTrimmedAndTheSecondQueryNeverRuns) {
    m_fc.answer_ja("  " + font("ja.ttf") + "\r\n");
    m_fc.answer_mono(font("mono.ttf"));
    EXPECT_EQ(discover({font("fallback.ttf")}), "ja.ttf");
    EXPECT_EQ(m_fc.log(), k_ja_call);
    EXPECT_EQ(m_err, "glyphRain: using font " + font("ja.ttf") + " (query: monospace:lang=ja)\n");
}

struct FirstQueryFailure {
    const char* name;
    std::string output; // with {dir} for the fonts directory
    int status;
    bool killed;
};

class FirstQueryFails : public Discovery,
                        public ::testing::WithParamInterface<FirstQueryFailure> {};

TEST_P(FirstQueryFails, SecondQueryIsUsedSilently) {
    const FirstQueryFailure& c = GetParam();
    std::string output = c.output;
    for (auto at = output.find("{dir}"); at != std::string::npos; at = output.find("{dir}"))
        output.replace(at, 5, m_fonts.path());
    m_fc.answer_ja(output, c.status);
    if (c.killed) m_fc.kill_ja();
    m_fc.answer_mono(font("mono.ttf") + "\n");
    EXPECT_EQ(discover({font("fallback.ttf")}), "mono.ttf");
    EXPECT_EQ(m_fc.log(), k_ja_call + k_mono_call);
    EXPECT_EQ(m_err, "glyphRain: using font " + font("mono.ttf") + " (query: monospace)\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstQueryFails,
    ::testing::Values(FirstQueryFailure{"NonZeroStatus", "{dir}/ja.ttf", 1, false},
                      FirstQueryFailure{"KilledBySignal", "{dir}/ja.ttf", 0, true},
                      FirstQueryFailure{"EmptyOutput", "", 0, false},
                      FirstQueryFailure{"WhiteSpaceOnly", " \n\t\r\n", 0, false},
                      FirstQueryFailure{"MissingFile", "{dir}/none.ttf", 0, false},
                      FirstQueryFailure{"Directory", "{dir}/dir.ttf", 0, false},
                      FirstQueryFailure{"TooLarge", "{dir}/huge.ttf\n", 0, false},
                      FirstQueryFailure{"TwoLinesAreOnePath", "{dir}/ja.ttf\n{dir}/ja.ttf", 0,
                                        false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Discovery, OutputIsDecodedWithReplacementCharacters) {
    // An invalid byte becomes U+FFFD, which here names an existing file.
    m_fc.answer_ja(m_fonts.path() + "/a\xFF.ttf");
    EXPECT_EQ(discover({}), "a\xEF\xBF\xBD.ttf");
}

TEST_F(Discovery, FallbackPathsAreWalkedInOrderWhenNoQueryHelps) {
    m_fc.answer_ja(font("huge.ttf"));
    m_fc.answer_mono(font("dir.ttf"));
    EXPECT_EQ(discover({font("missing.ttf"), font("huge.ttf"), font("dir.ttf"),
                        font("fallback.ttf"), font("mono.ttf")}),
              "fallback.ttf");
    EXPECT_EQ(m_fc.log(), k_ja_call + k_mono_call);
    EXPECT_EQ(m_err, "glyphRain: using font " + font("fallback.ttf") + "\n");
}

TEST_F(Discovery, WithoutFcMatchOrFallbackNothingIsFound) {
    ScopedPath empty_path(m_fonts.path()); // a PATH without any fc-match
    Settings settings;
    std::vector<std::string_view> none;
    ::testing::internal::CaptureStderr();
    try {
        find_font(settings, none);
        FAIL() << "a font was found";
    } catch (const AppError& e) {
        EXPECT_STREQ(e.what(), "No font found. Install a monospace font or use --font <path>");
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(Discovery, QuietDiscoveryPrintsNothing) {
    m_fc.answer_mono(font("mono.ttf"));
    EXPECT_EQ(discover({}, true), "mono.ttf");
    EXPECT_EQ(m_err, "");
}

TEST_F(Discovery, ConfiguredFontIsUsedWithoutAnyQuery) {
    m_fc.answer_ja(font("ja.ttf"));
    Settings settings;
    settings.font = font("fallback.ttf");
    ScopedPath path(m_fc.bin());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(text_of(find_font(settings, {}).bytes), "fallback.ttf");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "glyphRain: using font " + font("fallback.ttf") + "\n");
    EXPECT_EQ(m_fc.log(), "");
}

struct SuggestionCase {
    const char* name;
    std::optional<std::string> ja; // fc-match's answer to each query; none makes it fail
    int ja_status;
    std::optional<std::string> mono;
    std::optional<std::string> suggestion;
    int queries;
};

class SuggestFont : public Discovery, public ::testing::WithParamInterface<SuggestionCase> {};

TEST_P(SuggestFont, AsksJapaneseFirstThenAnyMonospaceWithoutReading) {
    const SuggestionCase& c = GetParam();
    if (c.ja) m_fc.answer_ja(*c.ja, c.ja_status);
    if (c.mono) m_fc.answer_mono(*c.mono);
    ScopedPath path(m_fc.bin());
    EXPECT_EQ(suggest_font(), c.suggestion);
    EXPECT_EQ(m_fc.log(), c.queries == 1 ? k_ja_call : k_ja_call + k_mono_call);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SuggestFont,
    ::testing::Values(
        SuggestionCase{"Japanese", "/ja.otf", 0, std::nullopt, "/ja.otf", 1},
        SuggestionCase{"JapaneseFails", "/ja.otf", 1, "  /x/font.ttf\n", "/x/font.ttf", 2},
        SuggestionCase{"JapaneseBlank", " \n\t", 0, "/x/font.ttf", "/x/font.ttf", 2},
        SuggestionCase{"BothFail", std::nullopt, 0, std::nullopt, std::nullopt, 2},
        SuggestionCase{"InvalidUtf8", "/f\xFF.ttf\n", 0, std::nullopt, "/f\xEF\xBF\xBD.ttf", 1}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Discovery, NoSuggestionWithoutFcMatch) {
    ScopedPath empty_path(m_fonts.path());
    EXPECT_EQ(suggest_font(), std::nullopt);
}

/// load_font of content written to a temporary file.
LoadedFont load_content(const std::string& content) {
    TempDir dir;
    test::write_file(dir.file("f"), content);
    return load_font(read_font_file(dir.file("f")));
}

std::string parse_error(const std::string& content) {
    try {
        load_content(content);
    } catch (const AppError& e) {
        return e.what();
    }
    return "<parsed>";
}

TEST(LoadFont, RejectsWhatIsNoScalableFont) {
    // Too short for any format's header, or long enough to be recognised as none.
    EXPECT_EQ(parse_error(""), "Failed to parse font: invalid stream operation");
    EXPECT_EQ(parse_error("Not a font.\n"), "Failed to parse font: invalid stream operation");
    EXPECT_EQ(parse_error(std::string(4096, 'x')), "Failed to parse font: unknown file format");
    // A one-glyph bitmap font in BDF, which FreeType reads but cannot scale.
    const std::string bdf = "STARTFONT 2.1\nFONT -x-y-medium-r-normal--8-80-75-75-c-80-iso10646-1\n"
                            "SIZE 8 75 75\nFONTBOUNDINGBOX 8 8 0 0\nSTARTPROPERTIES 2\n"
                            "FONT_ASCENT 8\nFONT_DESCENT 0\nENDPROPERTIES\nCHARS 1\n"
                            "STARTCHAR A\nENCODING 65\nSWIDTH 500 0\nDWIDTH 8 0\nBBX 8 8 0 0\n"
                            "BITMAP\nFF\n81\n81\n81\n81\n81\n81\nFF\nENDCHAR\nENDFONT\n";
    EXPECT_EQ(parse_error(bdf), "Failed to parse font: no scalable outlines");
}

TEST(LoadFont, TruncatedFontsFailToParseOrStillGiveAFullAtlas) {
    const std::string whole = test::read_file(test::k_dejavu_mono);
    ASSERT_FALSE(whole.empty());
    for (std::size_t length :
         {4ul, 12ul, 200ul, 4096ul, whole.size() / 3, whole.size() / 2, whole.size() - 1000}) {
        SCOPED_TRACE(length);
        try {
            LoadedFont font = load_content(whole.substr(0, length));
            AtlasBuild build = build_atlas(font, 96, true);
            EXPECT_EQ(build.atlas.glyphs.size(), k_glyph_count);
        } catch (const AppError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Failed to parse font: ", 0), 0u) << e.what();
        }
    }
}

TEST(FreetypeErrorText, GivesReadableTextForCommonCodes) {
    EXPECT_EQ(freetype_error_text(0x02), "unknown file format");
    EXPECT_EQ(freetype_error_text(0x03), "broken file");
    EXPECT_EQ(freetype_error_text(0x40), "out of memory");
    EXPECT_EQ(freetype_error_text(0xFFFF), "FreeType error 0xffff");
}

} // namespace
} // namespace glyphrain

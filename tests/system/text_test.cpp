// SPDX-License-Identifier: MIT
#include "system/text.hpp"

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

struct Utf8Case {
    std::string input;
    bool valid;
    std::string lossy;
};

class Utf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, ValidatesAndDecodesLossily) {
    const auto& c = GetParam();
    EXPECT_EQ(is_valid_utf8(c.input), c.valid);
    EXPECT_EQ(decode_utf8_lossy(c.input), c.lossy);
}

const std::string k_fffd = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Test,
    ::testing::Values(Utf8Case{"", true, ""}, Utf8Case{"plain", true, "plain"},
                      Utf8Case{"\xE3\x81\x81", true, "\xE3\x81\x81"}, // hiragana small a
                      Utf8Case{"a\xFFz", false, "a" + k_fffd + "z"},  // stray byte
                      Utf8Case{"\xC0\xAF", false, k_fffd + k_fffd},   // overlong
                      Utf8Case{"\xE3\x81", false, k_fffd},            // truncated sequence
                      Utf8Case{"\xED\xA0\x80", false, k_fffd + k_fffd + k_fffd}, // surrogate
                      Utf8Case{"\xF4\x90\x80\x80", false, k_fffd + k_fffd + k_fffd + k_fffd},
                      Utf8Case{"\xF0\x9F\x98\x80", true, "\xF0\x9F\x98\x80"}));

struct TrimCase {
    std::string input;
    std::string expected;
};

class TrimTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTest, RemovesUnicodeWhiteSpaceAtBothEnds) {
    EXPECT_EQ(trim_white_space(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimTest,
    ::testing::Values(TrimCase{"", ""}, TrimCase{" \t\r\n\v\f", ""}, TrimCase{"  a b  ", "a b"},
                      TrimCase{"\xC2\xA0x\xE3\x80\x80", "x"},     // no-break and ideographic space
                      TrimCase{"\xE2\x80\xA8x\xC2\x85", "x"},     // line separator, NEL
                      TrimCase{"x\xE2\x80\x8B", "x\xE2\x80\x8B"}, // zero width space is not white
                      TrimCase{" \xFF ", "\xFF"},                 // invalid bytes are kept
                      TrimCase{"\xEF\xBB\xBFsize", "\xEF\xBB\xBFsize"})); // BOM is not white space

} // namespace
} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The wizard driven with scripted answers.
#include "config/wizard.hpp"

#include <functional>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "support/wizard_session.hpp"

namespace glyphrain {
namespace {

using test::k_default_transcript;
using test::k_empty_answers;

const std::optional<std::string> k_suggestion = test::k_suggested_font;

struct WizardRun {
    Settings settings;
    std::string err;
};

WizardRun run_scripted(const Settings& start, const std::string& input,
                       const std::optional<std::string>& suggestion = k_suggestion) {
    std::istringstream in(input);
    ::testing::internal::CaptureStderr();
    Settings result = run_wizard(start, suggestion, in);
    return {result, ::testing::internal::GetCapturedStderr()};
}

/// Ten answers, all empty except the one at question (0-based).
std::string one_answer(int question, const std::string& answer) {
    std::string input;
    for (int i = 0; i < 10; ++i)
        input += (i == question ? answer : "") + "\n";
    return input;
}

class WizardTest : public ::testing::Test {};

TEST_F(WizardTest, EmptyAnswersKeepEverythingAndShowTheSuggestion) {
    WizardRun run = run_scripted(Settings{}, k_empty_answers);
    EXPECT_EQ(run.settings, Settings{});
    EXPECT_EQ(run.err, k_default_transcript);
}

TEST_F(WizardTest, InputClosedAfterTheFirstAnswerStillAsksEverything) {
    WizardRun run = run_scripted(Settings{}, "128\n");
    Settings expected;
    expected.size = 128;
    EXPECT_EQ(run.settings, expected);
    EXPECT_EQ(run.err, k_default_transcript);
}

TEST_F(WizardTest, OffersTheCurrentValuesInTheirBrackets) {
    Settings s;
    s.size = 128;
    s.speed = 50;
    s.density = 100;
    s.font = "/a.ttf";
    s.theme = "zenburn";
    s.color = k_zenburn_color;
    s.trail_color = k_zenburn_trail_color;
    s.left_click = "xterm";
    s.right_click = "notify-send hi";
    s.background = true;
    s.verbose = s.quiet = true;
    WizardRun run = run_scripted(s, "");
    EXPECT_EQ(run.settings, s);
    EXPECT_EQ(run.err, "glyphRain: interactive configuration\n\n"
                       "Window size (96-1024) [128]: "
                       "Frame interval in ms (10-1000) [50]: "
                       "Column density %% (1-100) [100]: "
                       "Font path (Enter for auto-detect) [/a.ttf]: "
                       "Head color R,G,B [220, 193, 153]: "
                       "Trail color R,G,B [180, 158, 125]: "
                       "Left click command [xterm]: "
                       "Middle click command: "
                       "Right click command [notify-send hi]: "
                       "Run in the background? [Y/n]: ");
}

struct AnswerCase {
    std::string name;
    int question;
    std::string answer;
    std::function<void(Settings&)> start;  // changes to the defaults before the wizard
    std::function<void(Settings&)> expect; // changes the answer makes
    std::string message;                   // printed right after the prompt, or ""
    friend void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }
};

void no_change(Settings&) {}

class WizardAnswerTest : public WizardTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(WizardAnswerTest, StoresKeepsOrComplains) {
    const AnswerCase& c = GetParam();
    Settings start;
    c.start(start);
    Settings expected = start;
    c.expect(expected);
    WizardRun run = run_scripted(start, one_answer(c.question, c.answer));
    EXPECT_EQ(run.settings, expected);
    if (c.message.empty()) {
        EXPECT_EQ(run.err.find("  "), std::string::npos) << run.err;
    } else {
        EXPECT_NE(run.err.find(": " + c.message + "\n"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(c.message), run.err.rfind(c.message)) << "one message only";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, WizardAnswerTest,
    ::testing::Values(
        AnswerCase{"size_plus", 0, "+128", no_change, [](Settings& s) { s.size = 128; }, ""},
        AnswerCase{"size_trimmed", 0, " \t 512  \r", no_change, [](Settings& s) { s.size = 512; },
                   ""},
        AnswerCase{"size_words", 0, "abc", no_change, no_change, ""},
        AnswerCase{"size_negative", 0, "-5", no_change, no_change, ""},
        AnswerCase{"size_lone_plus", 0, "+", no_change, no_change, ""},
        AnswerCase{"size_low", 0, "95", no_change, no_change, "  Invalid size, keeping 96"},
        AnswerCase{"size_high", 0, "1025", [](Settings& s) { s.size = 200; }, no_change,
                   "  Invalid size, keeping 200"},
        AnswerCase{"speed_max", 1, "1000", no_change, [](Settings& s) { s.speed = 1000; }, ""},
        AnswerCase{"speed_low", 1, "5", no_change, no_change, "  Out of range, keeping 80"},
        AnswerCase{"speed_hex", 1, "0x10", no_change, no_change, ""},
        AnswerCase{"density_max", 2, "100", no_change, [](Settings& s) { s.density = 100; }, ""},
        AnswerCase{"density_zero", 2, "0", no_change, no_change, "  Out of range, keeping 75"},
        AnswerCase{"density_overflow", 2, "4294967296", no_change, no_change, ""},
        AnswerCase{"font_typed", 3, "/b c.ttf", no_change, [](Settings& s) { s.font = "/b c.ttf"; },
                   ""},
        AnswerCase{"font_replaced", 3, "/b.ttf", [](Settings& s) { s.font = "/a.ttf"; },
                   [](Settings& s) { s.font = "/b.ttf"; }, ""},
        AnswerCase{"color_tight", 4, "255,0,0", no_change,
                   [](Settings& s) {
                       s.color = {255, 0, 0};
                   },
                   ""},
        AnswerCase{"color_spaced", 4, "255, 0, 0", no_change,
                   [](Settings& s) {
                       s.color = {255, 0, 0};
                   },
                   ""},
        AnswerCase{"color_two_parts", 4, "255,0", no_change, no_change,
                   "  Invalid color, keeping current"},
        AnswerCase{"color_too_big", 4, "300, 0, 0", no_change, no_change,
                   "  Invalid color, keeping current"},
        AnswerCase{"trail_color", 5, "1,2,3", no_change,
                   [](Settings& s) {
                       s.trail_color = {1, 2, 3};
                   },
                   ""},
        AnswerCase{"trail_invalid", 5, "red", no_change, no_change,
                   "  Invalid color, keeping current"},
        AnswerCase{"left_click", 6, "xterm -e top", no_change,
                   [](Settings& s) { s.left_click = "xterm -e top"; }, ""},
        AnswerCase{"middle_click_replaced", 7, "b", [](Settings& s) { s.middle_click = "a"; },
                   [](Settings& s) { s.middle_click = "b"; }, ""},
        AnswerCase{"right_click", 8, "a=b \"c\"", no_change,
                   [](Settings& s) { s.right_click = "a=b \"c\""; }, ""},
        AnswerCase{"background_yes", 9, "yes", no_change, [](Settings& s) { s.background = true; },
                   ""},
        AnswerCase{"background_capital_yes", 9, "Yes", no_change, no_change, ""},
        AnswerCase{"background_n", 9, "n", [](Settings& s) { s.background = true; },
                   [](Settings& s) { s.background = false; }, ""},
        AnswerCase{"background_true_word", 9, "true", [](Settings& s) { s.background = true; },
                   [](Settings& s) { s.background = false; }, ""},
        AnswerCase{"background_kept", 9, "", [](Settings& s) { s.background = true; }, no_change,
                   ""}),
    [](const ::testing::TestParamInfo<AnswerCase>& param) { return param.param.name; });

struct FontPromptCase {
    std::string name;
    std::optional<std::string> font;
    std::optional<std::string> suggestion;
    std::string prompt;
    friend void PrintTo(const FontPromptCase& c, std::ostream* os) { *os << c.name; }
};

class FontPromptTest : public ::testing::TestWithParam<FontPromptCase> {};

TEST_P(FontPromptTest, ShowsTheFontOrTheSuggestionWithoutStoringIt) {
    Settings start;
    start.font = GetParam().font;
    WizardRun run = run_scripted(start, "\n\n\n\n", GetParam().suggestion);
    EXPECT_EQ(run.settings.font, GetParam().font);
    EXPECT_NE(run.err.find("[75]: " + GetParam().prompt + "Head color"), std::string::npos)
        << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FontPromptTest,
    ::testing::Values(FontPromptCase{"set", "/a.ttf", k_suggestion,
                                     "Font path (Enter for auto-detect) [/a.ttf]: "},
                      FontPromptCase{"set_empty", "", k_suggestion,
                                     "Font path (Enter for auto-detect) []: "},
                      FontPromptCase{"suggested", std::nullopt, k_suggestion,
                                     "Font path (Enter for auto-detect) [auto: /x/font.ttf]: "},
                      FontPromptCase{"no_suggestion", std::nullopt, std::nullopt,
                                     "Font path (Enter for auto-detect): "}),
    [](const ::testing::TestParamInfo<FontPromptCase>& param) { return param.param.name; });

} // namespace
} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Line prompts: trimming, refused lines, end of input; and the accepted spellings of yes.
#include "config/prompt.hpp"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

TEST(PromptLine, ReadsTrimmedLinesAndTurnsBadOnesIntoEmptyAnswers) {
    std::istringstream in("  x \r\n"
                          "second\n"
                          "\xff\xfe ok\n"
                          "after\n" +
                          std::string(k_max_answer_bytes + 1, 'a') + "\n" +
                          std::string(k_max_answer_bytes, 'b') + "\n" + "last");
    ::testing::internal::CaptureStderr();
    std::vector<std::string> answers;
    for (int i = 0; i < 9; ++i)
        answers.push_back(prompt_line(std::to_string(i) + "? ", in));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "0? 1? 2? 3? 4? 5? 6? 7? 8? ");
    EXPECT_EQ(answers,
              (std::vector<std::string>{"x", "second", "", "after", "",
                                        std::string(k_max_answer_bytes, 'b'), "last", "", ""}));
}

TEST(AskYes, AcceptsOnlyTheFourSpellings) {
    for (const char* yes : {"y", "Y", "yes", "YES"})
        EXPECT_TRUE(ask_yes(yes)) << yes;
    for (const char* no : {"", "Yes", "yES", "n", "no", "true", "1", " y", "yess"})
        EXPECT_FALSE(ask_yes(no)) << no;
}

} // namespace
} // namespace glyphrain

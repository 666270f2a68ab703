// SPDX-License-Identifier: MIT
// src/main.cpp through the built binary: help, version, the option check, the top-level error
// line and the signals it lets in.
#include <csignal>
#include <ostream>

#include <gtest/gtest.h>

#include "support/process_runner.hpp"
#include "support/temp_dir.hpp"

namespace glyphrain {
namespace {

using test::run_process;

std::string golden_help() {
    return test::read_file(std::string(GLYPHRAIN_SOURCE_DIR) + "/tests/app/help.golden");
}

class HelpTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(HelpTest, PrintsHelpOnStandardErrorAndSucceeds) {
    test::TempDir home;
    auto r =
        run_process(test::glyphrain_binary(), {.args = GetParam(), .env = {{"HOME", home.path()}}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, golden_help());
}

INSTANTIATE_TEST_SUITE_P(Cases, HelpTest,
                         ::testing::Values(std::vector<std::string>{"--help"},
                                           std::vector<std::string>{"--bogus", "--help"},
                                           std::vector<std::string>{"--size", "--help"},
                                           std::vector<std::string>{"--write-config", "--help"},
                                           std::vector<std::string>{"--version", "--help"}));

TEST(Version, PrintsOneLineOnStandardOutputAndLeavesSaveModeAlone) {
    test::TempDir home;
    auto r = run_process(test::glyphrain_binary(),
                         {.args = {"--write-config", "--version"},
                          .env = {{"HOME", home.path()}, {"XDG_CONFIG_HOME", std::nullopt}}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "glyphRain " GLYPHRAIN_VERSION "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(test::file_exists(home.file(".config")));
}

TEST(UnknownOption, PrintsTwoLinesAndFailsBeforeReadingAnything) {
    test::TempDir home;
    auto r = run_process(test::glyphrain_binary(),
                         {.args = {"--quiet", "--size=200", "--write-config"},
                          .env = {{"HOME", home.path()}, {"XDG_CONFIG_HOME", std::nullopt}}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "glyphRain: unknown option '--size=200'\n"
                     "Try 'glyphRain --help' for usage information.\n");
    EXPECT_FALSE(test::file_exists(home.file(".config")));
}

// The signal mask outlives exec: a launcher that blocked SIGTERM must not make the program
// unstoppable. The wizard's first question waits on standard input for as long as needed.
TEST(InheritedSignalMask, BlockedSigtermStillEndsTheProgram) {
    test::TempDir home;
    auto r = run_process(test::glyphrain_binary(),
                         {.args = {"--configure"},
                          .env = {{"HOME", home.path()}, {"XDG_CONFIG_HOME", home.path()}},
                          .timeout_ms = 10000,
                          .blocked_signals = {SIGTERM},
                          .signal_on_err = {{"Window size", SIGTERM}}});
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 128 + SIGTERM);
}

struct BrokenStreamsCase {
    const char* arguments_and_redirections;
    int status;
};

void PrintTo(const BrokenStreamsCase& c, std::ostream* os) {
    *os << c.arguments_and_redirections;
}

class BrokenStandardStreams : public ::testing::TestWithParam<BrokenStreamsCase> {};

// A message that cannot be written is dropped; the exit status stays the one of the outcome.
TEST_P(BrokenStandardStreams, KeepTheExitStatus) {
    test::TempDir home;
    auto r = run_process("sh", {.args = {"-c", test::glyphrain_binary() + " " +
                                                   GetParam().arguments_and_redirections},
                                .env = {{"HOME", home.path()}, {"XDG_CONFIG_HOME", std::nullopt}}});
    EXPECT_EQ(r.status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenStandardStreams,
    ::testing::Values(BrokenStreamsCase{"--help <&- >&- 2>&-", 0},
                      BrokenStreamsCase{"--help 2>/dev/full", 0},
                      BrokenStreamsCase{"--size=200 2>/dev/full", 1},
                      BrokenStreamsCase{"--font /nonexistent/font.ttf 2>/dev/full", 1},
                      BrokenStreamsCase{"--write-config \"$HOME/c\" 2>/dev/full", 0}));

} // namespace
} // namespace glyphrain

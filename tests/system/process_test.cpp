#include "system/process.hpp"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

TEST(RunAndCapture, ReturnsStandardOutputOfASuccessfulChild) {
    auto out = run_and_capture({"sh", "-c", "printf 'out'; printf 'err' >&2"});
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, "out");
}

TEST(RunAndCapture, GivesTheChildAnEmptyStandardInput) {
    auto out = run_and_capture({"sh", "-c", "cat; echo end"});
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, "end\n");
}

TEST(RunAndCapture, FailsForNonZeroStatusSignalAndMissingProgram) {
    EXPECT_FALSE(run_and_capture({"sh", "-c", "echo x; exit 3"}));
    EXPECT_FALSE(run_and_capture({"sh", "-c", "kill -9 $$"}));
    EXPECT_FALSE(run_and_capture({"glyphrain-no-such-program"}));
    EXPECT_FALSE(run_and_capture({}));
}

TEST(RunAndCapture, DrainsLargeOutputOnBothStreams) {
    auto out = run_and_capture({"sh", "-c",
                                "head -c 300000 /dev/zero | tr '\\0' e >&2; "
                                "head -c 300000 /dev/zero | tr '\\0' o"});
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), 300000u);
}

TEST(RunAndCapture, ChildStartsWithDefaultSigpipe) {
    auto previous = std::signal(SIGPIPE, SIG_IGN);
    auto out = run_and_capture({"sh", "-c", "grep SigIgn /proc/self/status"});
    std::signal(SIGPIPE, previous);
    ASSERT_TRUE(out);
    // SIGPIPE is signal 13, bit 12 of the mask: the low hex digit group must not have 0x1000.
    auto mask = std::stoull(out->substr(out->find_first_of("0123456789abcdef")), nullptr, 16);
    EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u);
}

TEST(SpawnDetached, StartsWithoutWaitingAndIsReapedLater) {
    auto pid = spawn_detached({"sh", "-c", "exit 0"});
    ASSERT_TRUE(pid);
    int reaped = 0;
    for (int i = 0; i < 200 && reaped == 0; ++i) {
        reaped = reap_finished_children();
        if (!reaped) ::usleep(10000);
    }
    EXPECT_EQ(reaped, 1);
    EXPECT_EQ(::waitpid(*pid, nullptr, WNOHANG), -1); // already collected
}

TEST(SpawnDetached, ReportsAProgramThatCannotStart) {
    EXPECT_FALSE(spawn_detached({"glyphrain-no-such-program"}));
}

} // namespace
} // namespace glyphrain

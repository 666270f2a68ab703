// SPDX-License-Identifier: MIT
#include "system/process.hpp"

#include <array>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

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

/// The parent's signal state while it lives: SIGPIPE, SIGINT and SIGQUIT ignored (as glyphRain
/// ignores SIGPIPE, and a script's `glyphRain &` leaves the other two ignored) and SIGUSR1 blocked.
class InheritableSignalState {
  public:
    InheritableSignalState() {
        for (int sig : k_ignored)
            m_previous.push_back(std::signal(sig, SIG_IGN));
        sigset_t usr1;
        sigemptyset(&usr1);
        sigaddset(&usr1, SIGUSR1);
        sigprocmask(SIG_BLOCK, &usr1, &m_mask);
    }
    ~InheritableSignalState() {
        sigprocmask(SIG_SETMASK, &m_mask, nullptr);
        for (std::size_t i = 0; i < k_ignored.size(); ++i)
            std::signal(k_ignored[i], m_previous[i]);
    }
    InheritableSignalState(const InheritableSignalState&) = delete;
    InheritableSignalState& operator=(const InheritableSignalState&) = delete;

  private:
    static constexpr std::array<int, 3> k_ignored{SIGPIPE, SIGINT, SIGQUIT};
    std::vector<void (*)(int)> m_previous;
    sigset_t m_mask{};
};

const std::string k_show_signals = "grep -E '^Sig(Ign|Blk)' /proc/self/status";

/// True for "SigBlk:\t<hex>\nSigIgn:\t<hex>\n" with nothing blocked and no standard signal
/// ignored. glibc's posix_spawn keeps its two internal signals (32 and 33) ignored; no program
/// can use them, so only signals 1 to 31 are judged.
bool signals_are_default(const std::string& status) {
    auto value = [&](const char* field) {
        const auto at = status.find(field);
        return at == std::string::npos ? ~0ull : std::stoull(status.substr(at + 7), nullptr, 16);
    };
    return value("SigBlk:") == 0 && (value("SigIgn:") & 0x7fffffffull) == 0;
}

TEST(RunAndCapture, ChildStartsWithDefaultSignalsAndNoneBlocked) {
    InheritableSignalState state;
    const std::string status = run_and_capture({"sh", "-c", k_show_signals}).value_or("");
    EXPECT_TRUE(signals_are_default(status)) << status;
}

TEST(SpawnDetached, ChildStartsWithDefaultSignalsAndNoneBlocked) {
    test::TempDir dir;
    {
        InheritableSignalState state;
        ASSERT_TRUE(spawn_detached({"sh", "-c", k_show_signals + " > " + dir.file("signals")}));
    }
    ASSERT_GT(::wait(nullptr), 0);
    const std::string status = test::read_file(dir.file("signals"));
    EXPECT_TRUE(signals_are_default(status)) << status;
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

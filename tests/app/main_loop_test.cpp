// SPDX-License-Identifier: MIT
// Frame timing of the main loop: the interval and deadline arithmetic, and what ends a wait on the
// monotonic clock.
#include "app/main_loop.hpp"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/background.hpp"
#include "system/process.hpp"

namespace glyphrain {
namespace {

struct IntervalCase {
    std::uint64_t speed_ms;
    time_t sec;
    long nsec;
};

void PrintTo(const IntervalCase& c, std::ostream* os) {
    *os << c.speed_ms << " ms";
}

class FrameInterval : public ::testing::TestWithParam<IntervalCase> {};

TEST_P(FrameInterval, SplitsIntoSecondsAndNanoseconds) {
    const timespec t = frame_interval(GetParam().speed_ms);
    EXPECT_EQ(t.tv_sec, GetParam().sec);
    EXPECT_EQ(t.tv_nsec, GetParam().nsec);
}

INSTANTIATE_TEST_SUITE_P(Speeds, FrameInterval,
                         ::testing::Values(IntervalCase{10, 0, 10'000'000},
                                           IntervalCase{80, 0, 80'000'000},
                                           IntervalCase{999, 0, 999'000'000},
                                           IntervalCase{1000, 1, 0},
                                           IntervalCase{2500, 2, 500'000'000}));

struct DeadlineCase {
    timespec start;
    timespec interval;
    timespec expected;
};

void PrintTo(const DeadlineCase& c, std::ostream* os) {
    *os << c.start.tv_sec << "s " << c.start.tv_nsec << "ns + " << c.interval.tv_sec << "s "
        << c.interval.tv_nsec << "ns";
}

class Deadline : public ::testing::TestWithParam<DeadlineCase> {};

TEST_P(Deadline, CarriesNanosecondsIntoSeconds) {
    const timespec d = deadline_after(GetParam().start, GetParam().interval);
    EXPECT_EQ(d.tv_sec, GetParam().expected.tv_sec);
    EXPECT_EQ(d.tv_nsec, GetParam().expected.tv_nsec);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, Deadline,
    ::testing::Values(DeadlineCase{{5, 0}, {0, 80'000'000}, {5, 80'000'000}},
                      DeadlineCase{{5, 920'000'000}, {0, 80'000'000}, {6, 0}},
                      DeadlineCase{{5, 999'999'999}, {0, 10'000'000}, {6, 9'999'999}},
                      DeadlineCase{{7, 500'000'000}, {1, 0}, {8, 500'000'000}},
                      DeadlineCase{{7, 600'000'000}, {0, 999'000'000}, {8, 599'000'000}}));

struct WakeCase {
    const char* name;
    void (*arrange)(int pipe_in); // what happens after the clock is made and before the wait
    long long wait_ms;            // the deadline, from the time of the wait
    Wake expected;
    int blocked = 0; // a signal already blocked when the clock is made, as a launcher may leave it
};

/// A child that has ended but is not yet collected.
void end_a_child(int) {
    const std::optional<pid_t> pid = spawn_detached({"true"});
    ASSERT_TRUE(pid);
    siginfo_t ended{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(*pid), &ended, WEXITED | WNOWAIT), 0);
}

void PrintTo(const WakeCase& c, std::ostream* os) {
    *os << c.name;
}

class MonotonicWait : public ::testing::TestWithParam<WakeCase> {};

// A signal that comes between two waits is blocked until the next wait lets it in, which then
// ends at once: it is neither lost nor left for the deadline, which here is long enough to fail.
// The same holds when the process started with the signal blocked.
TEST_P(MonotonicWait, EndsAtWhatComesFirst) {
    install_reload_handler();
    install_child_handler();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    sigset_t inherited;
    sigemptyset(&inherited);
    if (GetParam().blocked != 0) sigaddset(&inherited, GetParam().blocked);
    (void)::sigprocmask(SIG_BLOCK, &inherited, nullptr);
    Wake woken = Wake::deadline;
    {
        MonotonicClock clock;
        GetParam().arrange(fds[1]);
        timespec deadline = clock.now();
        deadline.tv_sec += GetParam().wait_ms / 1000;
        woken = clock.wait_until(deadline, fds[0]);
    }
    (void)::sigprocmask(SIG_UNBLOCK, &inherited, nullptr); // a signal still pending comes now
    EXPECT_EQ(woken, GetParam().expected);
    (void)reap_finished_children();
    (void)take_child_ended();
    (void)take_reload_request();
    ::close(fds[0]);
    ::close(fds[1]);
    std::signal(SIGHUP, SIG_DFL);
    std::signal(SIGCHLD, SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, MonotonicWait,
    ::testing::Values(
        WakeCase{"deadlinePassed", [](int) {}, 0, Wake::deadline},
        WakeCase{"readable", [](int in) { ASSERT_EQ(::write(in, "x", 1), 1); }, 20'000,
                 Wake::readable},
        WakeCase{"sighupBeforeTheWait", [](int) { std::raise(SIGHUP); }, 20'000, Wake::signal},
        WakeCase{"childEndedBeforeTheWait", end_a_child, 20'000, Wake::signal},
        WakeCase{"sighupBlockedAtStart", [](int) { std::raise(SIGHUP); }, 5'000, Wake::signal,
                 SIGHUP},
        WakeCase{"childEndedBlockedAtStart", end_a_child, 5'000, Wake::signal, SIGCHLD}),
    [](const ::testing::TestParamInfo<WakeCase>& p) { return std::string(p.param.name); });

} // namespace
} // namespace glyphrain

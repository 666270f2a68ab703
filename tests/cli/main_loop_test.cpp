// SPDX-License-Identifier: MIT
// Frame timing arithmetic of the main loop: the interval and the absolute deadline of a pass.
#include "main_loop.hpp"

#include <gtest/gtest.h>

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

} // namespace
} // namespace glyphrain

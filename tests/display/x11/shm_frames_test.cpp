// SPDX-License-Identifier: MIT
// Shared frame memory without a server: which segment may be written, and SysV segments that
// cannot outlive the program.
#include "display/x11/shm_frames.hpp"

#include <ostream>
#include <sstream>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

struct TurnsCase {
    const char* name;
    // Steps separated by spaces: "a0" acquire hands out segment 0, "a-" hands out none,
    // "s1" a request on segment 1 is sent, "c1" one on segment 1 completed, "x" clear.
    const char* script;
};

void PrintTo(const TurnsCase& c, std::ostream* os) {
    *os << c.name << ": " << c.script;
}

class SegmentTurnsScript : public ::testing::TestWithParam<TurnsCase> {};

TEST_P(SegmentTurnsScript, BusySegmentsAreNeverHandedOut) {
    SegmentTurns turns;
    std::istringstream steps(GetParam().script);
    int n = 0;
    for (std::string step; steps >> step; ++n) {
        const std::size_t index =
            step.size() > 1 && step[1] != '-' ? std::size_t(step[1] - '0') : 9;
        switch (step[0]) {
        case 'a': {
            const std::optional<std::size_t> got = turns.acquire();
            if (step[1] == '-')
                EXPECT_EQ(got, std::nullopt) << "step " << n << " " << step;
            else
                EXPECT_EQ(got, index) << "step " << n << " " << step;
            break;
        }
        case 's':
            turns.sent(index);
            break;
        case 'c':
            turns.completed(index);
            break;
        case 'x':
            turns.clear();
            break;
        default:
            FAIL() << "bad step " << step;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, SegmentTurnsScript,
    ::testing::Values(
        TurnsCase{"inTurn", "a0 s0 c0 a1 s1 c1 a0 s0 c0 a1"},
        TurnsCase{"bothBusy", "a0 s0 a1 s1 a- a-"},
        TurnsCase{"oneBusy", "a0 s0 a1 s1 c0 a0 a0 s0 a-"},
        // A completion frees its own segment only.
        TurnsCase{"completionFreesItsOwn", "a0 s0 a1 s1 c1 a1 s1 a- c0 a0"},
        // A frame shown in two windows is read twice and busy until both are done.
        TurnsCase{"twoWindows", "a0 s0 s0 c0 a1 s1 a- c0 a0"},
        // Completions of nothing pending (another client's, or after a clear) change nothing.
        TurnsCase{"strayCompletions", "c0 c1 c9 a0 s0 a1 s1 c1 c1 a1 s1 a-"},
        TurnsCase{"clear", "a0 s0 a1 s1 a- x a0 c0 c1 a1 s1 a0 s0 a-"}),
    [](const ::testing::TestParamInfo<TurnsCase>& p) { return std::string(p.param.name); });

// A process killed between creating the segment and the server's answer must leave nothing: the
// segment is marked for removal before its id goes anywhere, and goes with its last attachment.
TEST(SysvSegment, MarkedForRemovalBeforeItsIdIsHandedOut) {
    const std::optional<SysvMapping> mapping = map_sysv_segment(4096);
    ASSERT_TRUE(mapping);
    shmid_ds status{};
    ASSERT_EQ(::shmctl(mapping->shmid, IPC_STAT, &status), 0);
    EXPECT_NE(status.shm_perm.mode & SHM_DEST, 0u);
    EXPECT_EQ(status.shm_nattch, 1u);
    static_cast<unsigned char*>(mapping->memory)[4095] = 1; // mapped writable, whole
    ASSERT_EQ(::shmdt(mapping->memory), 0);
    EXPECT_EQ(::shmctl(mapping->shmid, IPC_STAT, &status), -1);
}

} // namespace
} // namespace glyphrain

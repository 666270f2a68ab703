// SPDX-License-Identifier: MIT
#include "app/click_commands.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"
#include "system/process.hpp"

namespace glyphrain {
namespace {

/// Opens the FIFO for writing once its reader is there, without waiting on a reader that never
/// comes; -1 after five seconds.
int open_writer(const std::string& fifo) {
    for (int i = 0; i < 500; ++i) {
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO) return fd;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

TEST(RunClickCommand, RunsShellSyntaxWithoutWaiting) {
    test::TempDir dir;
    const std::string gate = dir.file("gate");
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    reap_finished_children();
    // The shell stays until the test opens the gate, so returning early proves nothing was waited
    // for; its output goes nowhere, so it holds no pipe of the test runner.
    auto start = std::chrono::steady_clock::now();
    run_click_command("exec >/dev/null 2>&1; echo a | tr a b > '" + dir.file("piped") +
                      "' & read line < '" + gate + "'; wait");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    int writer = open_writer(gate);
    ASSERT_GE(writer, 0) << "the shell never opened the gate";
    ASSERT_EQ(::write(writer, "\n", 1), 1);
    ::close(writer);
    int reaped = 0;
    for (int i = 0; i < 500 && reaped == 0; ++i) {
        reaped = reap_finished_children();
        if (reaped == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(reaped, 1);
    EXPECT_EQ(test::read_file(dir.file("piped")), "b\n");
}

TEST(RunClickCommand, IgnoresUnsetAndEmptyCommands) {
    reap_finished_children();
    run_click_command(std::nullopt);
    run_click_command(std::string());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(reap_finished_children(), 0);
}

TEST(RunClickCommand, FinishedCommandsAreReapedWithoutZombies) {
    reap_finished_children();
    for (int i = 0; i < 20; ++i)
        run_click_command("true");
    int reaped = 0;
    for (int i = 0; i < 500 && reaped < 20; ++i) {
        reaped += reap_finished_children();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(reaped, 20);
}

} // namespace
} // namespace glyphrain

// SPDX-License-Identifier: MIT
#include "process_services.hpp"

#include <chrono>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"
#include "system/process.hpp"

namespace glyphrain {
namespace {

TEST(ReloadRequest, SighupRaisesTheFlagOnceUntilTaken) {
    install_reload_handler();
    (void)take_reload_request();
    EXPECT_FALSE(take_reload_request());
    std::raise(SIGHUP);
    std::raise(SIGHUP); // several signals between two passes are one request
    EXPECT_TRUE(take_reload_request());
    EXPECT_FALSE(take_reload_request());
    std::raise(SIGHUP); // the handler stays installed after a delivery
    EXPECT_TRUE(take_reload_request());
    std::signal(SIGHUP, SIG_DFL);
}

bool wait_for_file(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        if (test::file_exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(RunClickCommand, RunsShellSyntaxWithoutWaiting) {
    test::TempDir dir;
    auto start = std::chrono::steady_clock::now();
    run_click_command("sleep 10 & echo a | tr a b > '" + dir.file("piped") + "'; sleep 5");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_TRUE(wait_for_file(dir.file("piped")));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
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

// SPDX-License-Identifier: MIT
// Click commands of the running program: which presses start which shell command, that a slow
// command never holds the frames up, and that finished commands are collected.
#include <string>

#include <gtest/gtest.h>

#include "support/proc_probe.hpp"
#include "support/running_app.hpp"
#include "support/temp_dir.hpp"

namespace glyphrain {
namespace {

using test::eventually;
using test::read_file;
using test::RunningApp;

// Each command leaves its trace in $HOME/log; the shell syntax is handed to sh unchanged.
const std::string k_logging_commands = "density = 100\n"
                                       "left_click = echo left | tr a-z A-Z >> \"$HOME/log\"\n"
                                       "middle_click = echo middle >> \"$HOME/log\" &\n"
                                       "right_click = echo right >> \"$HOME/log\"\n";

std::string log_of(const RunningApp& app) {
    return read_file(app.home() + "/log");
}

bool log_becomes(const RunningApp& app, const std::string& text) {
    return eventually([&] { return log_of(app) == text; }, 5000);
}

TEST(ClickCommands, EachButtonRunsItsOwnCommand) {
    RunningApp app({.config = k_logging_commands});
    ASSERT_TRUE(app.started()) << app.err();
    app.click(1);
    EXPECT_TRUE(log_becomes(app, "LEFT\n")) << log_of(app);
    app.click(3);
    EXPECT_TRUE(log_becomes(app, "LEFT\nright\n")) << log_of(app);
    app.click(2);
    EXPECT_TRUE(log_becomes(app, "LEFT\nright\nmiddle\n")) << log_of(app);
    // A middle click with a command of its own does not reload.
    EXPECT_EQ(app.count_in_err("config reloaded"), 0) << app.err();
    EXPECT_FALSE(test::file_exists(app.config_file() + ".new"));
}

TEST(ClickCommands, CommandsStartWithSigpipeAtItsDefault) {
    // glyphRain ignores SIGPIPE itself; a command that inherited that would survive this.
    RunningApp app({.config = "left_click = sh -c 'kill -PIPE $$; echo survived >> \"$HOME/log\"'; "
                              "echo done >> \"$HOME/log\"\n"});
    ASSERT_TRUE(app.started()) << app.err();
    app.click(1);
    EXPECT_TRUE(log_becomes(app, "done\n")) << log_of(app);
}

TEST(ClickCommands, WheelAndFramePressesDoNothing) {
    RunningApp app({.config = k_logging_commands});
    ASSERT_TRUE(app.started()) << app.err();
    app.click(4);
    app.click(5);
    // The 4-pixel frame belongs to the dock window, which takes no presses.
    for (std::uint8_t button : {1, 2, 3}) {
        app.click(button, 2, 48);
        app.click(button, 48, 0);
        app.click(button, 93, 93);
        app.click(button, 95, 20);
    }
    // Presses are handled in order, so once this one has acted every earlier one has too.
    app.click(3);
    EXPECT_TRUE(log_becomes(app, "right\n")) << log_of(app);
    test::sleep_ms(300);
    EXPECT_EQ(log_of(app), "right\n");
    EXPECT_EQ(app.count_in_err("config reloaded"), 0) << app.err();
}

TEST(ClickCommands, SlowCommandsDoNotHoldUpTheFrames) {
    // exec makes each command one process, so the fixture can kill exactly what was started.
    RunningApp app(
        {.args = {"--speed", "40"}, .config = "density = 100\nleft_click = exec sleep 10\n"});
    ASSERT_TRUE(app.started()) << app.err();
    const int before = app.frame_changes(800);
    for (int i = 0; i < 5; ++i)
        app.click(1);
    EXPECT_TRUE(eventually([&] { return test::children_of(app.pid()).size() == 5; }, 5000))
        << test::children_of(app.pid()).size() << " commands running";
    const int during = app.frame_changes(800);
    EXPECT_GE(during, 10);
    EXPECT_GE(during * 3, before * 2) << "before " << before << ", during " << during;
    EXPECT_FALSE(app.process().wait_exit(0)) << app.err();
}

TEST(ClickCommands, FinishedCommandsLeaveNoZombie) {
    constexpr int k_clicks = 40;
    RunningApp app({.config = "left_click = echo x >> \"$HOME/log\"\n"});
    ASSERT_TRUE(app.started()) << app.err();
    for (int i = 0; i < k_clicks; ++i)
        app.click(1);
    EXPECT_TRUE(log_becomes(app, [] {
        std::string lines;
        for (int i = 0; i < k_clicks; ++i)
            lines += "x\n";
        return lines;
    }()));
    // Without reaping, every finished command would stay a zombie until the program exits.
    EXPECT_TRUE(eventually([&] { return test::children_of(app.pid()).empty(); }, 3000))
        << test::zombie_children_of(app.pid()).size() << " zombies";
}

} // namespace
} // namespace glyphrain

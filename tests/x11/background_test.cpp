// SPDX-License-Identifier: MIT
// Background mode: the parent reports the child's pid and returns at once, the child leaves the
// terminal's session and goes on drawing and printing to the same standard error.
#include <fstream>
#include <ostream>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/proc_probe.hpp"
#include "support/process_runner.hpp"
#include "support/temp_dir.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

namespace glyphrain {
namespace {

using test::eventually;

/// Stops a process that is not a direct child of the test, by its pid, when the test ends.
struct StopOnExit {
    pid_t pid = -1;
    ~StopOnExit() { test::stop_process(pid); }
};

std::string comm_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

/// The glyphRain process that was handed to this test when its parent ended.
pid_t adopted_app() {
    for (pid_t child : test::children_of(::getpid()))
        if (comm_of(child) == "glyphRain") return child;
    return -1;
}

struct BackgroundCase {
    const char* name;
    std::vector<std::string> args;
    std::string config;
    bool quiet;
};

void PrintTo(const BackgroundCase& c, std::ostream* os) {
    *os << c.name;
}

class BackgroundMode : public ::testing::TestWithParam<BackgroundCase> {};

TEST_P(BackgroundMode, ParentReturnsAtOnceAndTheChildGoesOn) {
    const BackgroundCase& c = GetParam();
    // The detached child is reparented to this test, which can then stop and reap it.
    test::SubreaperScope reaper;
    test::XvfbServer server;
    test::XClient x(server.display());
    test::TempDir home;
    if (!c.config.empty()) {
        ::mkdir((home.path() + "/config").c_str(), 0700);
        ::mkdir((home.path() + "/config/glyphRain").c_str(), 0700);
        test::write_file(home.path() + "/config/glyphRain/config", c.config);
    }
    const std::string err_path = home.file("stderr.log");
    const long long started = test::now_ms();
    const pid_t parent = test::spawn_logged(test::glyphrain_binary(), c.args,
                                            test::app_env(server.display(), home.path()),
                                            home.file("stdout.log"), err_path);
    const auto status = test::wait_for_exit(parent, 10000);
    const long long parent_ms = test::now_ms() - started;
    StopOnExit child{adopted_app()};
    ASSERT_EQ(status, 0);
    // The parent leaves before any font or X work.
    EXPECT_LT(parent_ms, 1000);
    ASSERT_GT(child.pid, 0) << "no glyphRain process left running";
    EXPECT_NE(child.pid, parent);
    // The parent may end before the child has called setsid.
    EXPECT_TRUE(eventually(
        [&] { return test::proc_stat(child.pid).value_or(test::ProcStat{}).session == child.pid; },
        5000))
        << "the child did not start its own session";

    EXPECT_TRUE(x.wait_for_dock_window(30000));
    if (c.quiet) {
        test::sleep_ms(300);
        EXPECT_EQ(test::read_file(err_path), "");
    } else {
        EXPECT_TRUE(eventually(
            [&] {
                return test::read_file(err_path).find("glyphRain: running (96x96") !=
                       std::string::npos;
            },
            30000))
            << test::read_file(err_path);
        const std::string err = test::read_file(err_path);
        std::smatch m;
        ASSERT_TRUE(
            std::regex_search(err, m, std::regex("glyphRain: backgrounded \\(pid (\\d+)\\)\n")))
            << err;
        EXPECT_EQ(std::stoi(m[1].str()), child.pid);
    }
    EXPECT_EQ(test::read_file(home.file("stdout.log")), "");
    const auto still = test::proc_stat(child.pid);
    ASSERT_TRUE(still);
    EXPECT_NE(still->state, 'Z') << "the child ended";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackgroundMode,
    ::testing::Values(BackgroundCase{"option", {"--background"}, "", false},
                      BackgroundCase{"quiet", {"--background", "--quiet"}, "", true},
                      BackgroundCase{"fileSetting", {}, "background = true\n", false}),
    [](const ::testing::TestParamInfo<BackgroundCase>& p) { return std::string(p.param.name); });

} // namespace
} // namespace glyphrain

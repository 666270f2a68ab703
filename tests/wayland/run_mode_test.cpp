// SPDX-License-Identifier: MIT
// The built program on a private headless sway, driven like a user would (SIGHUP, a click through
// a virtual pointer) or left without its compositor, and judged by its standard error and status.
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/proc_probe.hpp"
#include "support/process_runner.hpp"
#include "support/sway.hpp"
#include "support/temp_dir.hpp"
#include "support/xvfb.hpp"

namespace glyphrain::test {
namespace {

constexpr int k_size = 96; // the default size, in the default top-right corner
constexpr int k_timeout_ms = 10000;

/// glyphRain on its own sway with a temporary home and the given configuration file.
struct WaylandApp {
    SwayServer sway;
    TempDir home;
    std::unique_ptr<BackgroundProcess> process;

    explicit WaylandApp(const std::string& config) : m_bare(top_edge()) {
        std::filesystem::create_directories(home.file("config/glyphRain"));
        write_file(home.file("config/glyphRain/config"), config);
        Environment env = sway.client_env();
        env.insert({{"HOME", home.path()},
                    {"XDG_CONFIG_HOME", home.file("config")},
                    {"GLYPHRAIN_BACKEND", std::nullopt}});
        process = std::make_unique<BackgroundProcess>(glyphrain_binary(),
                                                      std::vector<std::string>{}, env, home.path());
    }
    /// True once the surface's bevel shows where sway showed its background before: the loop
    /// runs, SIGHUP is handled.
    bool started() const {
        return eventually(
            [&] {
                const std::vector<std::uint32_t> edge = top_edge();
                return !edge.empty() && edge != m_bare;
            },
            30000);
    }
    std::string last_line() const {
        std::string err = process->err();
        if (!err.empty() && err.back() == '\n') err.pop_back();
        return err.substr(err.rfind('\n') + 1);
    }

  private:
    /// The middle of the surface's top edge.
    std::vector<std::uint32_t> top_edge() const {
        return sway.grim(k_output_width - k_size / 2, 0, 1, 1);
    }
    std::vector<std::uint32_t> m_bare;
};

struct AppCase {
    const char* name;
    const char* config;
    std::function<void(WaylandApp&)> act;
    std::function<bool(WaylandApp&)> done; // holds within k_timeout_ms of the act
};

void PrintTo(const AppCase& c, std::ostream* os) {
    *os << c.name;
}

class WaylandRunMode : public ::testing::TestWithParam<AppCase> {
  protected:
    void SetUp() override {
        if (auto why = sway_missing()) GTEST_SKIP() << *why;
    }
};

TEST_P(WaylandRunMode, AnswersLikeOnX11) {
    WaylandApp app(GetParam().config);
    ASSERT_TRUE(app.started()) << app.process->err();
    GetParam().act(app);
    EXPECT_TRUE(eventually([&] { return GetParam().done(app); }, k_timeout_ms))
        << app.process->err();
}

INSTANTIATE_TEST_SUITE_P(
    Events, WaylandRunMode,
    ::testing::Values(
        AppCase{"hangupReloads", "", [](WaylandApp& a) { ::kill(a.process->pid(), SIGHUP); },
                [](WaylandApp& a) {
                    return a.process->err().find("glyphRain: config reloaded (SIGHUP)\n") !=
                           std::string::npos;
                }},
        AppCase{"leftClickRunsItsCommand", "left_click = touch \"$HOME/clicked\"\n",
                [](WaylandApp& a) {
                    ProcessOptions click{.args = {std::to_string(k_output_width - k_size / 2),
                                                  std::to_string(k_size / 2), "1"},
                                         .env = a.sway.client_env()};
                    const ProcessResult r = run_process(GLYPHRAIN_WAYLAND_POINTER, click);
                    EXPECT_EQ(r.status, 0) << r.err;
                },
                [](WaylandApp& a) { return file_exists(a.home.file("clicked")); }},
        AppCase{"compositorGoneEndsTheRun", "", [](WaylandApp& a) { a.sway.kill_now(); },
                [](WaylandApp& a) {
                    return a.process->wait_exit(0) == 1 &&
                           a.last_line().rfind("Error: Lost connection to the Wayland compositor: ",
                                               0) == 0;
                }}),
    [](const ::testing::TestParamInfo<AppCase>& p) { return std::string(p.param.name); });

} // namespace
} // namespace glyphrain::test

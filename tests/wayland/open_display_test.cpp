// SPDX-License-Identifier: MIT
// The choice of display system, made by the built program in a session with both a Wayland
// compositor and an X server: X11 when the compositor has no layer shell or when it is forced.
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/process_runner.hpp"
#include "support/sway.hpp"
#include "support/temp_dir.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

namespace glyphrain::test {
namespace {

struct ChoiceCase {
    const char* name;
    bool sway;           // else the bare server, which has no layer shell (as GNOME has none)
    const char* backend; // GLYPHRAIN_BACKEND, if set
    const char* note;    // the line that says X11 was taken instead, up to the display's name
};

void PrintTo(const ChoiceCase& c, std::ostream* os) {
    *os << c.name;
}

class OpenDisplayChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(OpenDisplayChoice, RunsAsAnX11DockApp) {
    const ChoiceCase& c = GetParam();
    if (auto why = sway_missing(); why && c.sway) GTEST_SKIP() << *why;
    std::unique_ptr<SwayServer> sway;
    std::unique_ptr<BareWaylandServer> bare;
    Environment wayland_env;
    if (c.sway) {
        sway = std::make_unique<SwayServer>();
        wayland_env = sway->client_env();
    } else {
        bare = std::make_unique<BareWaylandServer>();
        wayland_env = bare->client_env();
    }
    XvfbServer xvfb;
    XClient x(xvfb.display());
    TempDir home;
    Environment env = app_env(xvfb.display(), home.path());
    wayland_env.erase("DISPLAY");
    for (const auto& [name, value] : wayland_env)
        env[name] = value;
    env["GLYPHRAIN_BACKEND"] = c.backend ? std::optional<std::string>(c.backend) : std::nullopt;
    BackgroundProcess app(glyphrain_binary(), {}, env, home.path());
    EXPECT_TRUE(x.wait_for_dock_window(30000)) << app.err();
    ASSERT_TRUE(app.wait_for_err("glyphRain: running", 30000)) << app.err();
    std::string told; // the lines about the display system
    std::istringstream lines(app.err());
    for (std::string line; std::getline(lines, line);)
        if (line.find("Wayland") != std::string::npos || line.find("X11") != std::string::npos)
            told += line + "\n";
    EXPECT_EQ(told, c.note ? c.note + xvfb.display() + "\n" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, OpenDisplayChoice,
    ::testing::Values(ChoiceCase{"noLayerShell", false, nullptr,
                                 "glyphRain: the Wayland compositor offers no layer shell; using "
                                 "X11 on "},
                      ChoiceCase{"x11Forced", true, "x11", nullptr}),
    [](const ::testing::TestParamInfo<ChoiceCase>& p) { return std::string(p.param.name); });

} // namespace
} // namespace glyphrain::test

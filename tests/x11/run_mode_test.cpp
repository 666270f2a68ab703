// SPDX-License-Identifier: MIT
// The glyphRain binary in run mode on a private Xvfb: window, frames, bevel and the ways a run
// ends, observed through a second connection and the program's standard error.
#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "display/x11/shm_frames.hpp"
#include "support/core_length_proxy.hpp"
#include "support/proc_probe.hpp"
#include "support/process_runner.hpp"
#include "support/temp_dir.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

namespace glyphrain {
namespace {

using namespace std::chrono_literals;
using test::BackgroundProcess;
using test::TempDir;
using test::XClient;
using test::XvfbServer;

constexpr int k_start_timeout_ms = 30000;
constexpr int k_exit_timeout_ms = 10000;

/// How the program is named when started.
enum class Launch {
    absolute, // its absolute path
    relative, // a path relative to the current directory
    bare,     // its name alone, found on PATH
};

std::string program_name(Launch launch) {
    const std::filesystem::path binary = test::glyphrain_binary();
    switch (launch) {
    case Launch::relative:
        return (std::filesystem::path(".") /
                std::filesystem::relative(binary, std::filesystem::current_path()))
            .string();
    case Launch::bare:
        return binary.filename().string();
    case Launch::absolute:
        break;
    }
    return binary.string();
}

std::map<std::string, std::optional<std::string>>
launch_env(Launch launch, const XvfbServer& server, const TempDir& home) {
    auto env = test::app_env(server.display(), home.path());
    if (launch == Launch::bare) {
        const char* path = std::getenv("PATH");
        env["PATH"] = std::filesystem::path(test::glyphrain_binary()).parent_path().string() + ":" +
                      (path ? path : "/usr/bin:/bin");
    }
    return env;
}

/// glyphRain running on server with a temporary home; stopped by pid when it goes.
struct App {
    TempDir home;
    BackgroundProcess process;
    App(const XvfbServer& server, const std::vector<std::string>& args,
        Launch launch = Launch::absolute)
        : process(program_name(launch), args, launch_env(launch, server, home), home.path()) {}
    bool wait_running() const {
        return process.wait_for_err("glyphRain: running (", k_start_timeout_ms);
    }
};

/// The window of a started app, once it shows.
xcb_window_t dock_window_of(XClient& x, const App& app) {
    EXPECT_TRUE(app.wait_running()) << app.process.err();
    auto w = x.wait_for_dock_window(5000);
    EXPECT_TRUE(w.has_value());
    return w.value_or(XCB_NONE);
}

std::string last_line(const std::string& text) {
    std::string t = text;
    if (!t.empty() && t.back() == '\n') t.pop_back();
    return t.substr(t.rfind('\n') == std::string::npos ? 0 : t.rfind('\n') + 1);
}

struct SlitCase {
    const char* name;
    std::vector<std::string> args;
    std::optional<std::uint32_t> slit;
    std::string running = "glyphRain: running (96x96, speed 80ms, density 75%)\n";
    Launch launch = Launch::absolute;
};

void PrintTo(const SlitCase& c, std::ostream* os) {
    *os << c.name;
}

class RunModeSlit : public ::testing::TestWithParam<SlitCase> {};

TEST_P(RunModeSlit, RunningLineSlitAndCommand) {
    const SlitCase& c = GetParam();
    XvfbServer server;
    XClient x(server.display());
    App app(server, c.args, c.launch);
    const xcb_window_t w = dock_window_of(x, app);
    ASSERT_NE(w, XCB_NONE);
    EXPECT_NE(app.process.err().find(GetParam().running), std::string::npos) << app.process.err();
    EXPECT_EQ(app.process.out(), "");

    // WM_COMMAND must start the program from any directory: a relative program name becomes the
    // executable's absolute path, a name found on PATH and an absolute path stay as typed.
    std::string expected = c.launch == Launch::relative
                               ? std::filesystem::canonical(test::glyphrain_binary()).string()
                               : program_name(c.launch);
    expected.push_back('\0');
    for (const std::string& arg : c.args)
        expected.append(arg).push_back('\0');
    auto command = x.property(w, XCB_ATOM_WM_COMMAND);
    ASSERT_TRUE(command);
    EXPECT_EQ(std::string(command->bytes.begin(), command->bytes.end()), expected);

    const xcb_atom_t slit_atom = x.atom("_VIREO_SLIT", false);
    if (GetParam().slit) {
        ASSERT_NE(slit_atom, XCB_ATOM_NONE);
        auto p = x.property(w, slit_atom);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->type, XCB_ATOM_CARDINAL);
        EXPECT_EQ(p->format, 32);
        EXPECT_EQ(p->words(), std::vector<std::uint32_t>{*GetParam().slit});
    } else {
        EXPECT_EQ(slit_atom, XCB_ATOM_NONE) << "interned without a slit number";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Args, RunModeSlit,
    ::testing::Values(SlitCase{"none", {}, std::nullopt}, SlitCase{"two", {"--dock", "2"}, 2},
                      SlitCase{"word", {"--dock", "two"}, std::nullopt},
                      SlitCase{"firstWins", {"--dock", "7", "--dock", "3"}, 7},
                      SlitCase{"plusSign", {"--dock", "+5"}, 5},
                      SlitCase{"negative", {"--dock", "-1"}, std::nullopt},
                      SlitCase{"withOptions",
                               {"--size", "200", "--dock", "2", "--speed", "50", "--density", "40"},
                               2,
                               "glyphRain: running (200x200, speed 50ms, density 40%)\n"},
                      SlitCase{"relativeProgram",
                               {"--dock", "3", "--verbose"},
                               3,
                               "glyphRain: running (96x96, speed 80ms, density 75%)\n",
                               Launch::relative},
                      SlitCase{"bareProgram",
                               {"--dock", "1"},
                               1,
                               "glyphRain: running (96x96, speed 80ms, density 75%)\n",
                               Launch::bare}),
    [](const ::testing::TestParamInfo<SlitCase>& p) { return std::string(p.param.name); });

struct Ring {
    std::uint32_t shadow, light;
};

struct BevelCase {
    const char* name;
    std::vector<std::string> args;
    std::uint16_t size;
    std::array<Ring, 4> rings;
};

void PrintTo(const BevelCase& c, std::ostream* os) {
    *os << c.name;
}

class RunModeBevel : public ::testing::TestWithParam<BevelCase> {};

TEST_P(RunModeBevel, FourRingsReadBack) {
    const BevelCase& c = GetParam();
    XvfbServer server;
    XClient x(server.display());
    App app(server, c.args);
    const xcb_window_t w = dock_window_of(x, app);
    ASSERT_NE(w, XCB_NONE);
    const int n = c.size;
    std::vector<std::uint32_t> img;
    // The first frame may not have arrived yet: the outer ring is never black once it has.
    for (int i = 0; i < 100; ++i) {
        img = x.image(w, 0, 0, c.size, c.size);
        if (!img.empty() && img[static_cast<std::size_t>(n) * (n - 1)] != 0) break;
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_EQ(img.size(), static_cast<std::size_t>(n) * n);
    auto at = [&](int px, int py) { return img[static_cast<std::size_t>(py) * n + px]; };
    for (int i = 0; i < 4; ++i) {
        const Ring r = c.rings[static_cast<std::size_t>(i)];
        // Top and left in shadow, bottom and right in light; the light edges are drawn last,
        // so the top-right and bottom-left corners are light.
        for (int k = i; k < n - 1 - i; ++k) {
            ASSERT_EQ(at(k, i), r.shadow) << "top, ring " << i << " x " << k;
            ASSERT_EQ(at(i, k), r.shadow) << "left, ring " << i << " y " << k;
        }
        for (int k = i; k <= n - 1 - i; ++k) {
            ASSERT_EQ(at(k, n - 1 - i), r.light) << "bottom, ring " << i << " x " << k;
            ASSERT_EQ(at(n - 1 - i, k), r.light) << "right, ring " << i << " y " << k;
        }
    }
}

constexpr std::array<Ring, 4> k_default_rings = {Ring{0x1e1e1e, 0xa0a0a0}, Ring{0x262626, 0x929292},
                                                 Ring{0x2e2e2e, 0x858585},
                                                 Ring{0x373737, 0x787878}};
constexpr std::array<Ring, 4> k_zenburn_rings = {Ring{0x23201c, 0xa0917d}, Ring{0x2b2722, 0x968874},
                                                 Ring{0x332f29, 0x8c7f6c},
                                                 Ring{0x3c3730, 0x827664}};

INSTANTIATE_TEST_SUITE_P(
    Themes, RunModeBevel,
    ::testing::Values(
        BevelCase{"default", {}, 96, k_default_rings},
        BevelCase{"otherTheme", {"--theme", "solarized"}, 96, k_default_rings},
        BevelCase{"zenburn", {"--theme", "ZenBurn", "--size", "128"}, 128, k_zenburn_rings},
        BevelCase{"largest", {"--size", "1024", "--speed", "10"}, 1024, k_default_rings}),
    [](const ::testing::TestParamInfo<BevelCase>& p) { return std::string(p.param.name); });

struct AnimationCase {
    const char* name;
    std::vector<std::string> args;
    std::uint16_t size;
};

void PrintTo(const AnimationCase& c, std::ostream* os) {
    *os << c.name;
}

class RunModeAnimation : public ::testing::TestWithParam<AnimationCase> {};

TEST_P(RunModeAnimation, FramesKeepChanging) {
    XvfbServer server;
    XClient x(server.display());
    App app(server, GetParam().args);
    const xcb_window_t w = dock_window_of(x, app);
    ASSERT_NE(w, XCB_NONE);
    const std::uint16_t inner = GetParam().size - 8;
    auto interior = [&] { return x.image(w, 4, 4, inner, inner); };
    std::vector<std::uint32_t> first = interior();
    int changes = 0;
    bool lit = false;
    for (int i = 0; i < 40 && changes < 3; ++i) {
        std::this_thread::sleep_for(100ms);
        std::vector<std::uint32_t> next = interior();
        ASSERT_EQ(next.size(), first.size());
        if (next != first) ++changes;
        for (std::uint32_t p : next)
            lit = lit || p != 0;
        first = std::move(next);
    }
    EXPECT_GE(changes, 3);
    EXPECT_TRUE(lit) << "only black frames";
    EXPECT_FALSE(app.process.wait_exit(0).has_value()) << app.process.err();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, RunModeAnimation,
    ::testing::Values(AnimationCase{"defaults", {}, 96},
                      AnimationCase{"largestFastest", {"--size", "1024", "--speed", "10"}, 1024}),
    [](const ::testing::TestParamInfo<AnimationCase>& p) { return std::string(p.param.name); });

struct EndCase {
    const char* name;
    std::vector<std::string> args;
    bool destroy; // destroy the window instead of asking it to close
    std::string expected_err_tail;
};

void PrintTo(const EndCase& c, std::ostream* os) {
    *os << c.name;
}

class RunModeEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(RunModeEnd, EndsWithStatusZero) {
    const EndCase& c = GetParam();
    XvfbServer server;
    XClient x(server.display());
    App app(server, c.args);
    const bool quiet = !c.args.empty() && c.args[0] == "--quiet";
    if (quiet) {
        // No running line to wait for: the window shows that start-up is done.
        ASSERT_TRUE(x.wait_for_dock_window(k_start_timeout_ms));
    } else {
        ASSERT_TRUE(app.wait_running()) << app.process.err();
    }
    const auto w = x.wait_for_dock_window(5000);
    ASSERT_TRUE(w);
    std::this_thread::sleep_for(200ms);
    if (c.destroy)
        x.destroy_window(*w);
    else
        x.send_delete_window(*w);
    EXPECT_EQ(app.process.wait_exit(k_exit_timeout_ms), 0) << app.process.err();
    const std::string err = app.process.err();
    if (quiet)
        EXPECT_EQ(err, "");
    else
        EXPECT_EQ(err.substr(err.size() - std::min(err.size(), c.expected_err_tail.size())),
                  c.expected_err_tail);
    EXPECT_EQ(app.process.out(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Ends, RunModeEnd,
    ::testing::Values(
        EndCase{"close",
                {},
                false,
                "glyphRain: running (96x96, speed 80ms, density 75%)\n"
                "glyphRain: exiting\n"},
        EndCase{"closeQuiet", {"--quiet"}, false, ""},
        EndCase{"destroy", {}, true, "glyphRain: running (96x96, speed 80ms, density 75%)\n"},
        EndCase{"destroyQuiet", {"--quiet"}, true, ""}),
    [](const ::testing::TestParamInfo<EndCase>& p) { return std::string(p.param.name); });

/// How frames reach the server.
enum class Via { put_image, memfd, sysv };

struct SharedMemoryCase {
    const char* name;
    std::vector<std::string> xvfb_args;
    bool tcp;    // DISPLAY names localhost, so the connection is TCP
    bool no_shm; // GLYPHRAIN_NO_SHM set
    int size;
    Via via;
    bool core_length = false; // the server is reached through the BIG-REQUESTS-hiding relay
};

void PrintTo(const SharedMemoryCase& c, std::ostream* os) {
    *os << c.name;
}

/// Mappings in pid's address space whose /proc maps line contains what.
int mappings_of(pid_t pid, const char* what) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    int n = 0;
    for (std::string line; std::getline(maps, line);)
        if (line.find(what) != std::string::npos) ++n;
    return n;
}

/// Mappings of glyphRain's frame segments in pid's address space.
int frame_segments_mapped(pid_t pid) {
    return mappings_of(pid, "memfd:glyphRain-frame") + mappings_of(pid, "/SYSV");
}

/// SysV segments that pid created and that were not there before: pid numbers are reused, and
/// other programs (AfterStep's modules) leave segments behind.
std::vector<test::SysvSegment>
sysv_segments_created_by(pid_t pid, const std::vector<test::SysvSegment>& before) {
    std::vector<test::SysvSegment> out;
    std::ranges::copy_if(test::sysv_segments(), std::back_inserter(out), [&](const auto& s) {
        return s.creator == pid &&
               std::ranges::none_of(before, [&](const auto& b) { return b.id == s.id; });
    });
    return out;
}

class RunModeSharedMemory : public ::testing::TestWithParam<SharedMemoryCase> {};

// Every way of sending frames animates the window, and none leaves memory behind when the
// program is killed: the server lets go of a segment once the client's connection is gone.
TEST_P(RunModeSharedMemory, FramesShowAndNothingOutlivesAKill) {
    const SharedMemoryCase& c = GetParam();
    XvfbServer server("1280x1024x24", c.xvfb_args);
    std::optional<test::CoreLengthProxy> proxy;
    if (c.core_length) proxy.emplace(server.display());
    XClient x(server.display());
    TempDir home;
    auto env = test::app_env(
        (c.tcp ? "localhost" : "") + (proxy ? proxy->display() : server.display()), home.path());
    if (c.no_shm) env["GLYPHRAIN_NO_SHM"] = "1";
    const std::vector<test::SysvSegment> segments_before = test::sysv_segments();
    BackgroundProcess app(test::glyphrain_binary(),
                          {"--size", std::to_string(c.size), "--speed", "20"}, env, home.path());
    ASSERT_TRUE(app.wait_for_err("glyphRain: running (", k_start_timeout_ms)) << app.err();
    const auto w = x.wait_for_dock_window(5000);
    ASSERT_TRUE(w);

    const auto inner = static_cast<std::uint16_t>(c.size - 8);
    std::vector<std::uint32_t> last = x.image(*w, 4, 4, inner, inner);
    int changes = 0;
    bool lit = false;
    for (int i = 0; i < 40 && (changes < 3 || !lit); ++i) {
        std::this_thread::sleep_for(100ms);
        std::vector<std::uint32_t> next = x.image(*w, 4, 4, inner, inner);
        if (next != last) ++changes;
        lit = lit || std::ranges::any_of(next, [](std::uint32_t p) { return p != 0; });
        last = std::move(next);
    }
    EXPECT_GE(changes, 3);
    EXPECT_TRUE(lit) << "only black frames";
    EXPECT_EQ(mappings_of(app.pid(), "memfd:glyphRain-frame") > 0, c.via == Via::memfd);
    EXPECT_EQ(mappings_of(app.pid(), "/SYSV") > 0, c.via == Via::sysv);
    EXPECT_EQ(frame_segments_mapped(server.pid()) > 0, c.via != Via::put_image);
    // SysV segments are marked for removal while in use, so they go with their last attachment.
    const std::vector<test::SysvSegment> own = sysv_segments_created_by(app.pid(), segments_before);
    EXPECT_EQ(own.size(), c.via == Via::sysv ? 2u : 0u);
    for (const test::SysvSegment& segment : own)
        EXPECT_NE(segment.mode & 01000, 0u) << "segment " << segment.id << " not marked";

    const pid_t pid = app.pid();
    ::kill(pid, SIGKILL);
    EXPECT_EQ(app.wait_exit(k_exit_timeout_ms), 128 + SIGKILL);
    EXPECT_TRUE(test::eventually([&] { return frame_segments_mapped(server.pid()) == 0; }, 5000));
    EXPECT_TRUE(sysv_segments_created_by(pid, segments_before).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RunModeSharedMemory,
    ::testing::Values(
        SharedMemoryCase{"sharedWhenLarge", {}, false, false, 1024, Via::memfd},
        SharedMemoryCase{
            "putImageWhenSmall", {}, false, false, k_shm_min_size_px - 1, Via::put_image},
        SharedMemoryCase{"noShmVariable", {}, false, true, 1024, Via::put_image},
        SharedMemoryCase{"serverWithoutExtension",
                         {"-extension", "MIT-SHM"},
                         false,
                         false,
                         1024,
                         Via::put_image},
        SharedMemoryCase{"tcpDisplay", {"-listen", "tcp"}, true, false, 1024, Via::put_image},
        // The relay drops passed descriptors, so the server itself refuses the memfd.
        SharedMemoryCase{"sysvWhenServerRefusesMemfd", {}, false, false, 1024, Via::sysv, true},
        SharedMemoryCase{
            "putImageWithoutBigRequests", {}, false, true, 1024, Via::put_image, true}),
    [](const ::testing::TestParamInfo<SharedMemoryCase>& p) { return std::string(p.param.name); });

TEST(RunModeFailures, KilledServerIsAnError) {
    XvfbServer server;
    App app(server, {"--speed", "20"});
    ASSERT_TRUE(app.wait_running()) << app.process.err();
    std::this_thread::sleep_for(200ms);
    server.kill_now();
    EXPECT_EQ(app.process.wait_exit(k_exit_timeout_ms), 1);
    const std::string line = last_line(app.process.err());
    EXPECT_EQ(line.rfind("Error: Lost connection to the X server", 0), 0u) << line;
}

TEST(RunModeFailures, PixelFormatOtherThan32Bits) {
    XvfbServer server("640x480x16");
    XClient x(server.display());
    App app(server, {"--dock", "1"});
    EXPECT_EQ(app.process.wait_exit(k_start_timeout_ms), 1);
    const std::string err = app.process.err();
    EXPECT_EQ(last_line(err),
              "Error: \"Unsupported pixel format: 16bpp at depth 16. Expected 32bpp.\"");
    EXPECT_EQ(err.find("glyphRain: running"), std::string::npos);
    EXPECT_FALSE(x.find_dock_window());
}

TEST(RunModeFailures, NoDisplayAfterTheFontWork) {
    TempDir home;
    test::ProcessOptions options;
    options.env = test::app_env("", home.path());
    options.env["DISPLAY"] = std::nullopt;
    const test::ProcessResult r = test::run_process(test::glyphrain_binary(), options);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("glyphRain: grid "), std::string::npos) << r.err;
    EXPECT_EQ(last_line(r.err), "Error: Cannot open display: DISPLAY is not set");
    EXPECT_EQ(r.out, "");
}

TEST(RunModeUnderWindowManager, FluxboxTakesTheWindowIntoItsSlit) {
    XvfbServer server;
    XClient x(server.display());
    TempDir wm_home;
    BackgroundProcess fluxbox("fluxbox", {},
                              {{"DISPLAY", server.display()},
                               {"HOME", wm_home.path()},
                               {"XDG_CONFIG_HOME", wm_home.path() + "/config"}},
                              wm_home.path());
    // The window manager is ready once it announces itself on the root window.
    const xcb_atom_t check = x.atom("_NET_SUPPORTING_WM_CHECK");
    bool managing = false;
    for (int i = 0; i < 500 && !managing; ++i) {
        managing = x.property(x.root(), check).has_value();
        if (!managing) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(managing) << fluxbox.err();

    App app(server, {});
    const xcb_window_t w = dock_window_of(x, app);
    ASSERT_NE(w, XCB_NONE);
    // The slit holds the icon window that WM_HINTS names.
    auto hints = x.property(w, XCB_ATOM_WM_HINTS);
    ASSERT_TRUE(hints);
    const xcb_window_t icon = hints->words().at(4);
    xcb_window_t parent = x.root();
    for (int i = 0; i < 250 && parent == x.root(); ++i) {
        std::this_thread::sleep_for(20ms);
        parent = x.tree(icon).parent;
    }
    EXPECT_NE(parent, x.root()) << "the window was not taken into the slit";
    EXPECT_EQ(x.geometry(icon).width, 96);
    EXPECT_FALSE(app.process.wait_exit(300).has_value()) << app.process.err();
}

} // namespace
} // namespace glyphrain

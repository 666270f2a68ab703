// SPDX-License-Identifier: MIT
// Configuration reloads of the running program, by middle click and by SIGHUP: the file written
// when missing, the messages and their silencing, and what the next frames show.
#include <fcntl.h>
#include <filesystem>
#include <ostream>
#include <stdlib.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/proc_probe.hpp"
#include "support/process_runner.hpp"
#include "support/running_app.hpp"
#include "support/temp_dir.hpp"

namespace glyphrain {
namespace {

using test::Image;
using test::Palette;
using test::RunningApp;

constexpr char k_click_reloaded[] = "glyphRain: config reloaded\n";
constexpr char k_sighup_reloaded[] = "glyphRain: config reloaded (SIGHUP)\n";
constexpr int k_wait_ms = 5000;

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

/// Waits for a lit frame that the palette explains and that other does not.
bool frames_turn(RunningApp& app, const Palette& palette, const Palette& other, int timeout_ms) {
    return app.wait_for_frame(
        [&](const Image& img) {
            return test::frame_is_lit(img, app.size(), 20) &&
                   test::frame_matches(img, app.size(), palette) &&
                   !test::frame_matches(img, app.size(), other);
        },
        timeout_ms);
}

/// True when every frame seen for duration_ms is explained by the palette.
bool frames_stay(RunningApp& app, const Palette& palette, int duration_ms) {
    return !app.wait_for_frame(
        [&](const Image& img) { return !test::frame_matches(img, app.size(), palette); },
        duration_ms);
}

TEST(MiddleClickReload, WritesTheMissingFileOnceThenOnlyReloads) {
    RunningApp app({});
    ASSERT_TRUE(app.started()) << app.err();
    ASSERT_FALSE(test::file_exists(app.config_file()));
    app.click(2);
    ASSERT_TRUE(app.wait_for_count(k_click_reloaded, 1, k_wait_ms)) << app.err();
    app.click(2);
    ASSERT_TRUE(app.wait_for_count(k_click_reloaded, 2, k_wait_ms)) << app.err();
    EXPECT_TRUE(ends_with(app.err(), "glyphRain: running (96x96, speed 80ms, density 75%)\n"
                                     "glyphRain: wrote default config to " +
                                         app.config_file() + "\n" + k_click_reloaded +
                                         k_click_reloaded))
        << app.err();

    // The file written is the annotated file of the settings in force, as save mode writes it.
    test::ProcessOptions save;
    save.args = {"--write-config", app.home() + "/saved"};
    save.env = test::app_env("", app.home());
    ASSERT_EQ(test::run_process(test::glyphrain_binary(), save).status, 0);
    EXPECT_EQ(test::read_file(app.config_file()), test::read_file(app.home() + "/saved"));
}

TEST(SighupReload, TwoQuickSignalsReloadOnceOrTwice) {
    RunningApp app({.config = "density = 50\n"});
    ASSERT_TRUE(app.started()) << app.err();
    app.hangup();
    app.hangup();
    ASSERT_TRUE(app.wait_for_count(k_sighup_reloaded, 1, k_wait_ms)) << app.err();
    test::sleep_ms(300);
    const int reloads = app.count_in_err(k_sighup_reloaded);
    EXPECT_GE(reloads, 1);
    EXPECT_LE(reloads, 2);
    // The handler stays installed after a delivery.
    app.hangup();
    EXPECT_TRUE(app.wait_for_count(k_sighup_reloaded, reloads + 1, k_wait_ms)) << app.err();
    EXPECT_EQ(app.count_in_err("wrote default config"), 0);
    EXPECT_FALSE(app.process().wait_exit(0)) << app.err();
}

struct FrameCase {
    const char* name;
    std::vector<std::string> args;
    std::string first_config;
    Palette first;
    std::string second_config;
    Palette second;
};

void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << c.name;
}

class ReloadedFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(ReloadedFrames, NextFramesShowTheNewSettings) {
    const FrameCase& c = GetParam();
    RunningApp app({.args = c.args, .config = "density = 100\n" + c.first_config});
    ASSERT_TRUE(app.started()) << app.err();
    ASSERT_TRUE(app.wait_for_frame(
        [&](const Image& img) {
            return test::frame_is_lit(img, app.size(), 20) &&
                   test::frame_matches(img, app.size(), c.first);
        },
        k_wait_ms));
    app.write_config("density = 100\n" + c.second_config);
    app.hangup();
    ASSERT_TRUE(app.wait_for_count(k_sighup_reloaded, 1, k_wait_ms)) << app.err();
    if (c.first.inks == c.second.inks && c.first.bevel_shadow == c.second.bevel_shadow)
        EXPECT_TRUE(frames_stay(app, c.second, 500));
    else
        // At 80 ms a frame, the first frames after the reload already show it.
        EXPECT_TRUE(frames_turn(app, c.second, c.first, 400));
}

const Palette k_blue_on_zenburn{{0x0000ff}, 0x23201c};

INSTANTIATE_TEST_SUITE_P(Cases, ReloadedFrames,
                         ::testing::Values(FrameCase{"newColours",
                                                     {},
                                                     test::k_red_lines,
                                                     test::k_red_palette,
                                                     test::k_blue_lines,
                                                     test::k_blue_palette},
                                           FrameCase{"removedLinesReturnToDefaults",
                                                     {},
                                                     test::k_red_lines,
                                                     test::k_red_palette,
                                                     "",
                                                     test::k_default_palette},
                                           FrameCase{"themeInTheFile",
                                                     {},
                                                     test::k_red_lines,
                                                     test::k_red_palette,
                                                     "theme = Zenburn\n",
                                                     test::k_zenburn_palette},
                                           FrameCase{"fileColoursWinOverFileTheme",
                                                     {},
                                                     test::k_red_lines,
                                                     test::k_red_palette,
                                                     "theme = zenburn\n" + test::k_blue_lines,
                                                     k_blue_on_zenburn},
                                           FrameCase{"commandLineThemeStillWins",
                                                     {"--theme", "zenburn"},
                                                     test::k_red_lines,
                                                     test::k_zenburn_palette,
                                                     test::k_blue_lines,
                                                     test::k_zenburn_palette}),
                         [](const ::testing::TestParamInfo<FrameCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(ReloadedSpeed, FrameIntervalStaysAsAtStart) {
    RunningApp app({.config = "density = 100\nspeed = 40\n" + test::k_red_lines});
    ASSERT_TRUE(app.started()) << app.err();
    const int before = app.frame_changes(1000);
    app.write_config("density = 100\nspeed = 1000\ncolour = 1\n" + test::k_blue_lines);
    app.hangup();
    ASSERT_TRUE(app.wait_for_count("line ignored\n", 1, k_wait_ms)) << app.err();
    // The reload says what it could not apply, right after its own line.
    EXPECT_TRUE(ends_with(app.err(), std::string(k_sighup_reloaded) +
                                         "glyphRain: the new speed 1000ms takes effect at the "
                                         "next start\nglyphRain: " +
                                         app.config_file() +
                                         ":3: unknown key \"colour\", line ignored\n"))
        << app.err();
    ASSERT_TRUE(frames_turn(app, test::k_blue_palette, test::k_red_palette, 400));
    const int after = app.frame_changes(1000);
    // 25 frames a second before; 1000 ms frames would show at most two changes.
    EXPECT_GE(before, 12);
    EXPECT_GE(after * 3, before * 2) << "before " << before << ", after " << after;
}

TEST(QuietReloads, CommandLineQuietSilencesEveryReload) {
    RunningApp app({.args = {"--quiet"}});
    ASSERT_TRUE(app.started()) << app.err();
    app.click(2);
    ASSERT_TRUE(test::eventually([&] { return test::file_exists(app.config_file()); }, k_wait_ms));
    app.write_config("quiet = false\ndensity = 100\n" + test::k_blue_lines);
    app.hangup();
    EXPECT_TRUE(frames_turn(app, test::k_blue_palette, test::k_default_palette, k_wait_ms));
    app.click(2);
    test::sleep_ms(300);
    EXPECT_EQ(app.err(), "");
}

TEST(QuietReloads, QuietRemovedFromTheFileLetsThemSpeak) {
    RunningApp app({.config = "quiet = true\ndensity = 100\n" + test::k_red_lines});
    ASSERT_TRUE(app.started()) << app.err();
    app.write_config("quiet = true\ndensity = 100\n" + test::k_blue_lines);
    app.hangup();
    ASSERT_TRUE(frames_turn(app, test::k_blue_palette, test::k_red_palette, k_wait_ms));
    EXPECT_EQ(app.err(), "");
    app.write_config("density = 100\n");
    app.click(2);
    ASSERT_TRUE(app.wait_for_count(k_click_reloaded, 1, k_wait_ms)) << app.err();
    app.hangup();
    ASSERT_TRUE(app.wait_for_count(k_sighup_reloaded, 1, k_wait_ms)) << app.err();
    EXPECT_EQ(app.err(), std::string(k_click_reloaded) + k_sighup_reloaded);
}

class UnwritableConfigDirectory : public ::testing::TestWithParam<bool> {};

TEST_P(UnwritableConfigDirectory, FailureIsReportedAndTheReloadGoesOn) {
    const bool quiet = GetParam();
    RunningApp app(
        {.args = quiet ? std::vector<std::string>{"--quiet"} : std::vector<std::string>{},
         .config = "density = 100\n" + test::k_red_lines});
    ASSERT_TRUE(app.started()) << app.err();
    // The configuration directory becomes a plain file: nothing can be read or written there.
    const std::string config_home = app.home() + "/config";
    std::filesystem::remove_all(config_home);
    test::write_file(config_home, "not a directory\n");
    const std::size_t before = app.err().size();
    const std::string failed = "glyphRain: failed to write config " + app.config_file() + ": ";
    app.click(2);
    ASSERT_TRUE(app.wait_for_count(failed, 1, k_wait_ms)) << app.err();
    // The reload still happens: the unreadable file leaves every setting at its default.
    EXPECT_TRUE(frames_turn(app, test::k_default_palette, test::k_red_palette, k_wait_ms));
    const std::string added = app.err().substr(before);
    const std::string reason = added.substr(0, added.find('\n'));
    EXPECT_GT(reason.size(), failed.size()) << added;
    EXPECT_EQ(added.substr(added.find('\n') + 1), quiet ? "" : k_click_reloaded) << added;
    EXPECT_FALSE(test::file_exists(config_home + "/glyphRain/config"));
}

INSTANTIATE_TEST_SUITE_P(Quiet, UnwritableConfigDirectory, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return std::string(p.param ? "quiet" : "talking");
                         });

/// A pseudo-terminal whose master side can be closed, as when a terminal window is closed: every
/// later write to the slave fails with EIO.
class Terminal {
  public:
    Terminal() : m_master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            if (const char* name = ::ptsname(m_master)) m_slave = name;
    }
    ~Terminal() { close(); }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    const std::string& slave() const noexcept { return m_slave; }
    void close() {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }

  private:
    int m_master;
    std::string m_slave;
};

TEST(ClosedTerminal, ReloadsClicksAndTheCloseRequestStillWork) {
    Terminal terminal;
    ASSERT_FALSE(terminal.slave().empty());
    RunningApp app({.stderr_path = terminal.slave()});
    ASSERT_TRUE(app.started());
    terminal.close();
    // Each step prints at least one line into the dead terminal; the files show it acted.
    app.hangup();
    ASSERT_TRUE(test::eventually([&] { return test::file_exists(app.config_file()); }, k_wait_ms));
    std::filesystem::remove(app.config_file());
    app.click(2);
    ASSERT_TRUE(test::eventually([&] { return test::file_exists(app.config_file()); }, k_wait_ms));
    EXPECT_EQ(app.close_and_wait(k_wait_ms), 0);
}

} // namespace
} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Storms against the running program: floods of SIGHUPs, clicks and reloads must leave it
// running and answering, without zombies, leaked descriptors or a half-replaced configuration.
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "support/proc_probe.hpp"
#include "support/running_app.hpp"

namespace glyphrain {
namespace {

using test::eventually;
using test::Image;
using test::RunningApp;

constexpr char k_click_reloaded[] = "glyphRain: config reloaded\n";
constexpr char k_sighup_reloaded[] = "glyphRain: config reloaded (SIGHUP)\n";

/// Still drawing, then ending cleanly on the close message.
void expect_answering_then_close(RunningApp& app) {
    EXPECT_GE(app.frame_changes(500), 3) << "frames stopped";
    EXPECT_EQ(app.close_and_wait(10000), 0) << app.err();
    const std::string err = app.err();
    EXPECT_EQ(err.substr(err.rfind('\n', err.size() - 2) + 1), "glyphRain: exiting\n");
}

TEST(Storms, TenThousandSighups) {
    RunningApp app({.args = {"--speed", "10"}, .config = "density = 100\n"});
    ASSERT_TRUE(app.started()) << app.err();
    const auto descriptors = test::open_descriptors(app.pid());
    const long long storm_start = test::now_ms();
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(::kill(app.pid(), SIGHUP), 0) << "gone after " << i << " signals";
    ASSERT_TRUE(app.wait_for_count(k_sighup_reloaded, 1, 5000)) << app.err();
    test::sleep_ms(200);
    const int reloads = app.count_in_err(k_sighup_reloaded);
    const long long elapsed_ms = test::now_ms() - storm_start;
    // Signals between two passes amount to one reload, so there is at most one per 10 ms pass.
    EXPECT_LE(reloads, elapsed_ms / 10 + 1) << "in " << elapsed_ms << " ms";
    test::sleep_ms(100);
    EXPECT_EQ(app.count_in_err(k_sighup_reloaded), reloads) << "reloads went on after the storm";
    EXPECT_FALSE(app.process().wait_exit(0)) << app.err();
    EXPECT_EQ(test::open_descriptors(app.pid()), descriptors);
    expect_answering_then_close(app);
}

TEST(Storms, TwoThousandClicksLeaveNoZombieOrDescriptor) {
    RunningApp app({.config = "left_click = true\n"});
    ASSERT_TRUE(app.started()) << app.err();
    const auto descriptors = test::open_descriptors(app.pid());
    for (int i = 0; i < 2000; ++i)
        app.click(1);
    // Presses are handled in order: once the reload of this middle click is reported, every
    // command above has been started.
    app.click(2);
    ASSERT_TRUE(app.wait_for_count(k_click_reloaded, 1, 60000)) << app.err();
    EXPECT_TRUE(eventually([&] { return test::children_of(app.pid()).empty(); }, 10000))
        << test::zombie_children_of(app.pid()).size() << " zombies, "
        << test::children_of(app.pid()).size() << " children";
    EXPECT_EQ(test::open_descriptors(app.pid()), descriptors);
    expect_answering_then_close(app);
}

TEST(Storms, TwoHundredReloadsOfARewrittenFile) {
    // The two files differ in every colour and in the bevel, so a frame drawn from a mixture of
    // both, or from leftovers of an earlier load, matches neither.
    const std::string files[2] = {"density = 100\n" + test::k_red_lines,
                                  "density = 100\ntheme = zenburn\n"};
    const test::Palette* palettes[2] = {&test::k_red_palette, &test::k_zenburn_palette};
    RunningApp app({.args = {"--speed", "20"}, .config = files[0]});
    ASSERT_TRUE(app.started()) << app.err();
    const auto descriptors = test::open_descriptors(app.pid());
    auto consistent = [&](const Image& img) {
        return test::frame_matches(img, app.size(), *palettes[0]) ||
               test::frame_matches(img, app.size(), *palettes[1]);
    };
    constexpr int k_reloads = 200;
    int odd_frames = 0;
    for (int i = 0; i < k_reloads; ++i) {
        app.write_config(files[(i + 1) % 2]);
        app.click(2);
        if (i % 5 == 0) {
            const Image img = app.image();
            if (!consistent(img)) ++odd_frames;
        }
    }
    EXPECT_EQ(odd_frames, 0);
    ASSERT_TRUE(app.wait_for_count(k_click_reloaded, k_reloads, 30000))
        << app.count_in_err(k_click_reloaded) << " reloads";
    // The last reload read the last file written.
    const int last = k_reloads % 2;
    EXPECT_TRUE(app.wait_for_frame(
        [&](const Image& img) {
            return test::frame_is_lit(img, app.size(), 20) &&
                   test::frame_matches(img, app.size(), *palettes[last]) &&
                   !test::frame_matches(img, app.size(), *palettes[1 - last]);
        },
        2000));
    test::sleep_ms(100);
    EXPECT_EQ(app.count_in_err(k_click_reloaded), k_reloads);
    EXPECT_EQ(app.count_in_err("wrote default config"), 0);
    EXPECT_EQ(test::open_descriptors(app.pid()), descriptors);
    expect_answering_then_close(app);
}

} // namespace
} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The main loop in-process on a private Xvfb: its hooks, its ends and its frames.
#include "main_loop.hpp"

#include <algorithm>
#include <bit>
#include <fstream>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "support/xvfb_dock.hpp"

namespace glyphrain {
namespace {

// 5 s at 10 ms: every script has ended the run long before, so a fault cannot hang the test.
constexpr int k_give_up_pass = 500;

/// Runs a script with the pass number before every rain step and records the buttons; a loop
/// that outlives k_give_up_pass passes is stopped with an exception.
class ScriptedHooks : public LoopHooks {
  public:
    using Script = std::function<void(ScriptedHooks&, int)>;
    explicit ScriptedHooks(Script script) : m_script(std::move(script)) {}
    void on_button(std::uint8_t button) override { buttons.push_back(button); }
    void before_step() override {
        if (passes > k_give_up_pass) throw std::logic_error("the loop did not end");
        m_script(*this, passes++);
    }
    std::vector<std::uint8_t> buttons;
    int passes = 0;

  private:
    Script m_script;
};

/// A small run: 96 px by default, an 8 x 8 grid of solid 6 x 6 glyphs, 10 ms frames.
struct LoopFixture : test::XvfbDock {
    Settings settings;
    GlyphAtlas atlas;
    RainState rain{8, 8, k_glyph_count, 42};
    FrameBuffer frame;

    explicit LoopFixture(std::uint16_t size = 96, bool no_shm = false)
        : XvfbDock({.size = size, .no_shm = no_shm}), frame(size, size) {
        settings.speed = 10;
        GlyphBitmap solid;
        solid.coverage.assign(36, 255);
        solid.width = solid.height = 6;
        atlas.glyphs.assign(k_glyph_count, solid);
        atlas.cell_width = 10;
        atlas.cell_height = 10;
        atlas.ascent = 8;
    }
    int run(LoopHooks& hooks, const LoopClock& clock = monotonic_clock()) {
        return run_main_loop({settings, rain, atlas, frame, *window}, hooks, clock);
    }
    void close() { x.send_delete_window(window->window()); }
};

TEST(MainLoop, ButtonsReachTheHookAndCloseEndsTheRun) {
    LoopFixture f;
    ScriptedHooks hooks([&](ScriptedHooks& h, int pass) {
        if (pass == 2) {
            f.x.click(50, 50, 1);
            f.x.click(2, 2, 2); // on the frame: no press for the program
            f.x.click(50, 50, 3);
        }
        if (h.buttons.size() >= 2) f.close();
    });
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(f.run(hooks), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "glyphRain: exiting\n");
    EXPECT_EQ(hooks.buttons, (std::vector<std::uint8_t>{1, 3}));
}

TEST(MainLoop, SettingsReplacedByAHookAreReadAtTheNextUse) {
    LoopFixture f;
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass == 1) {
            Settings fresh;
            fresh.quiet = true;
            fresh.speed = 1000; // must not slow the running loop down
            f.settings = fresh;
        }
        if (pass == 20) f.close();
    });
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(f.run(hooks), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_GE(hooks.passes, 20);
}

/// A clock that stands still until a pass is made to take time; a sleep jumps to its deadline
/// (or returns at once for one already past) and is recorded in milliseconds.
struct FakeClock {
    static inline long long now_ms = 100'000;
    static inline std::vector<long long> sleeps_until_ms;
    static timespec now() noexcept {
        return {static_cast<time_t>(now_ms / 1000), (now_ms % 1000) * 1'000'000};
    }
    static inline std::vector<long long> waits_until_ms;
    static void sleep_until(const timespec& deadline) noexcept {
        const long long ms = deadline.tv_sec * 1000LL + deadline.tv_nsec / 1'000'000;
        if (sleeps_until_ms.size() < sleeps_until_ms.capacity()) sleeps_until_ms.push_back(ms);
        now_ms = std::max(now_ms, ms);
    }
    /// Never woken early: no event reaches a fake clock.
    static void wait_until(const timespec& deadline, int) noexcept {
        const long long ms = deadline.tv_sec * 1000LL + deadline.tv_nsec / 1'000'000;
        if (waits_until_ms.size() < waits_until_ms.capacity()) waits_until_ms.push_back(ms);
        now_ms = std::max(now_ms, ms);
    }
    static LoopClock clock() { return {now, sleep_until, wait_until}; }
};

TEST(MainLoop, EachPassSleepsUntilOneIntervalAfterItsStart) {
    LoopFixture f;
    f.settings.speed = 80;
    f.settings.quiet = true;
    // The clock is shared by every test of this file, whatever order they run in.
    FakeClock::now_ms = 100'000;
    FakeClock::sleeps_until_ms.clear();
    FakeClock::sleeps_until_ms.reserve(k_give_up_pass + 2);
    // Passes of 30, 30, 95 (an overrun: no sleep) and 10 ms.
    const std::vector<long long> pass_ms = {30, 30, 95, 10};
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass < static_cast<int>(pass_ms.size())) FakeClock::now_ms += pass_ms[pass];
        if (pass == 4) f.close();
    });
    EXPECT_EQ(f.run(hooks, FakeClock::clock()), 0);
    ASSERT_GE(FakeClock::sleeps_until_ms.size(), 4u);
    EXPECT_EQ(std::vector<long long>(FakeClock::sleeps_until_ms.begin(),
                                     FakeClock::sleeps_until_ms.begin() + 4),
              (std::vector<long long>{100'080, 100'160, 100'240, 100'335}));
}

// Hidden for a while, the loop wakes once a second, and the rain has made one step per interval
// all the same.
TEST(MainLoop, HiddenLoopWakesOnceASecondAndKeepsItsSteps) {
    LoopFixture f;
    f.settings.speed = 100;
    f.settings.quiet = true;
    FakeClock::waits_until_ms.clear();
    FakeClock::waits_until_ms.reserve(8);
    const long long start_ms = FakeClock::now_ms;
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass == 0) f.x.set_mapped(f.window->window(), false);
        if (FakeClock::waits_until_ms.size() == 3) f.close();
    });
    EXPECT_EQ(f.run(hooks, FakeClock::clock()), 0);
    ASSERT_GE(FakeClock::waits_until_ms.size(), 3u);
    for (std::size_t i = 1; i < FakeClock::waits_until_ms.size(); ++i)
        EXPECT_EQ(FakeClock::waits_until_ms[i] - FakeClock::waits_until_ms[i - 1], 1000);
    // Passes take no time here, so every interval up to the closing pass made one step.
    const long long steps = (FakeClock::now_ms - start_ms) / 100;
    EXPECT_GT(steps, hooks.passes);
    RainState reference{8, 8, k_glyph_count, 42};
    for (long long i = 0; i < steps; ++i)
        reference.step_rain(f.settings.density);
    EXPECT_EQ(f.rain.grid(), reference.grid());
    EXPECT_EQ(f.rain.rng().next_u64(), reference.rng().next_u64());
}

TEST(MainLoop, DestroyedWindowEndsSilently) {
    LoopFixture f;
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass == 3) f.x.destroy_window(f.window->window());
    });
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(f.run(hooks), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// From one seed, the frame shown after the same number of steps is the same on both paths, and
// it is the frame the compositor makes.
TEST(MainLoop, SharedMemoryShowsTheSameFramesAsPutImage) {
    constexpr std::uint16_t size = 256;
    constexpr int last_pass = 12; // the close is read one pass later, after 13 steps
    std::vector<std::vector<std::uint32_t>> shown;
    for (bool no_shm : {true, false}) {
        LoopFixture f(size, no_shm);
        ASSERT_EQ(f.window->shares_memory(), !no_shm);
        f.settings.speed = 40; // leaves the server ample time to finish each segment
        ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
            if (pass == last_pass) f.close();
        });
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(f.run(hooks), 0);
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(hooks.passes, last_pass + 1);
        shown.push_back(f.x.image(f.window->window(), 0, 0, size, size));
        EXPECT_EQ(f.window->shares_memory(), !no_shm);

        RainState rain{8, 8, k_glyph_count, 42};
        FrameBuffer expected(size, size);
        for (int step = 0; step <= last_pass; ++step)
            rain.step_rain(f.settings.density);
        compose_frame(expected, rain, f.atlas, f.settings, f.window->lsb_first());
        ASSERT_TRUE(f.window->lsb_first() && std::endian::native == std::endian::little)
            << "the reference below reads words as 0x00RRGGBB";
        std::vector<std::uint32_t> reference(expected.pixels().begin(), expected.pixels().end());
        EXPECT_EQ(shown.back(), reference) << (no_shm ? "PutImage" : "shared memory");
    }
    EXPECT_EQ(shown[0], shown[1]);
}

TEST(MainLoop, KilledServerIsThrown) {
    LoopFixture f;
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass == 3) f.server.kill_now();
    });
    EXPECT_THROW(f.run(hooks), std::runtime_error);
}

/// Bytes this process has written so far, its X connections included.
std::uint64_t bytes_written() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value)
        if (key == "wchar:") return value;
    return 0;
}

struct ViewCase {
    const char* name;
    std::function<void(LoopFixture&)> arrange; // what a window manager or another client does
    std::uint64_t windows_drawn;               // PutImages each pass afterwards
};

void PrintTo(const ViewCase& c, std::ostream* os) {
    *os << c.name;
}

class MainLoopViewable : public ::testing::TestWithParam<ViewCase> {};

// Each frame of 96 px is one 36 888-byte PutImage per viewable window, so the bytes written over
// a run of passes count the images sent.
TEST_P(MainLoopViewable, ImagesGoOnlyToViewableWindows) {
    constexpr std::uint64_t k_image_bytes = 24 + 96 * 96 * 4;
    constexpr int k_first = 5, k_last = 25;
    LoopFixture f;
    std::uint64_t before = 0, after = 0;
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass == 0) GetParam().arrange(f);
        if (pass == k_first) before = bytes_written();
        if (pass == k_last) {
            after = bytes_written();
            f.close();
        }
    });
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(f.run(hooks), 0);
    ::testing::internal::GetCapturedStderr();
    const std::uint64_t images = GetParam().windows_drawn * (k_last - k_first);
    EXPECT_GE(after - before, images * k_image_bytes);
    EXPECT_LT(after - before, (images + 1) * k_image_bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, MainLoopViewable,
    ::testing::Values(
        ViewCase{"bareServer", [](LoopFixture&) {}, 1},
        ViewCase{"dockUnmapped", [](LoopFixture& f) { f.x.set_mapped(f.window->window(), false); },
                 0},
        ViewCase{"dockCovered", [](LoopFixture& f) { f.x.create_window(0, 0, 96, 96, true); }, 0},
        ViewCase{"dockHalfCovered", [](LoopFixture& f) { f.x.create_window(0, 0, 48, 96, true); },
                 1},
        ViewCase{"coverRemoved",
                 [](LoopFixture& f) { f.x.destroy_window(f.x.create_window(0, 0, 96, 96, true)); },
                 1},
        ViewCase{"iconOnly",
                 [](LoopFixture& f) {
                     f.x.set_mapped(f.window->window(), false);
                     f.x.set_mapped(f.window->icon_window(), true);
                 },
                 1},
        ViewCase{"both",
                 [](LoopFixture& f) {
                     f.x.move(f.window->icon_window(), 200, 0);
                     f.x.set_mapped(f.window->icon_window(), true);
                 },
                 2},
        // Mapped over the dock window, the icon window hides it.
        ViewCase{"iconOverDock",
                 [](LoopFixture& f) { f.x.set_mapped(f.window->icon_window(), true); }, 1},
        ViewCase{"iconCovered",
                 [](LoopFixture& f) {
                     f.x.set_mapped(f.window->window(), false);
                     f.x.set_mapped(f.window->icon_window(), true);
                     f.x.create_window(0, 0, 96, 96, true);
                 },
                 0}),
    [](const ::testing::TestParamInfo<ViewCase>& p) { return std::string(p.param.name); });

} // namespace
} // namespace glyphrain

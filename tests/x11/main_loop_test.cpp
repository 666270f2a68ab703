// SPDX-License-Identifier: MIT
// The main loop in-process on a private Xvfb: its hooks, its ends and its frames.
#include "app/main_loop.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>

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
    std::unique_ptr<PartialCompositor> partial; // made once the atlas is

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
        partial = std::make_unique<PartialCompositor>(atlas, 8, 8, k_frame_buffers);
    }
    int run(LoopHooks& hooks) {
        return run_main_loop({settings, rain, atlas, frame, *window, *partial}, hooks);
    }
    int run(LoopHooks& hooks, LoopClock& clock) {
        return run_main_loop({settings, rain, atlas, frame, *window, *partial}, hooks, clock);
    }
    /// The frame of the current state as 0xRRGGBB words, as GetImage reads them back.
    std::vector<std::uint32_t> composed() {
        FrameBuffer expected(frame.width(), frame.height());
        compose_frame(expected, rain, atlas, settings, window->lsb_first());
        if (!window->lsb_first() || std::endian::native != std::endian::little)
            throw std::logic_error("the reference reads words as 0x00RRGGBB");
        return {expected.pixels().begin(), expected.pixels().end()};
    }
    /// What window shows once it equals expected, or after a second.
    std::vector<std::uint32_t> shown(std::uint32_t id, const std::vector<std::uint32_t>& expected) {
        const auto size = static_cast<std::uint16_t>(frame.width());
        std::vector<std::uint32_t> seen = x.image(id, 0, 0, size, size);
        for (int i = 0; i < 100 && seen != expected; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            seen = x.image(id, 0, 0, size, size);
        }
        return seen;
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

/// A clock that stands still until a pass is made to take time. A wait returns a signal when one
/// is scripted, else the loop's connection when it is readable (looked at for up to patience_ms
/// real milliseconds in the one wait where a test awaits an event), else jumps to its deadline.
/// A wait without a deadline that nothing ends within ten seconds fails the test: the real clock
/// would wait for ever. Every wait is recorded in milliseconds.
class FakeClock final : public LoopClock {
  public:
    struct Wait {
        long long at_ms;
        std::optional<long long> until_ms; // none: until the next event
    };
    long long now_ms = 100'000;
    std::vector<Wait> waits; // up to the capacity reserved
    bool signal_next = false;
    int patience_ms = 0;
    std::function<void()> at_next_wait;    // runs once, as the next wait begins
    std::function<void()> on_endless_wait; // a wait without a deadline begins
    bool spun = false;                     // readable again and again with no time passing

    timespec now() noexcept override {
        return {static_cast<time_t>(now_ms / 1000), (now_ms % 1000) * 1'000'000};
    }
    Wake wait_until(const std::optional<timespec>& deadline, int fd,
                    bool writable) noexcept override {
        std::optional<long long> until;
        if (deadline) until = deadline->tv_sec * 1000LL + deadline->tv_nsec / 1'000'000;
        if (waits.size() < waits.capacity()) waits.push_back({now_ms, until});
        if (at_next_wait) std::exchange(at_next_wait, nullptr)();
        if (!until && on_endless_wait) on_endless_wait();
        if (signal_next) {
            signal_next = false;
            return Wake::signal;
        }
        pollfd connection{fd, static_cast<short>(POLLIN | (writable ? POLLOUT : 0)), 0};
        const int patience = until ? std::exchange(patience_ms, 0) : 10'000; // for one wait only
        const int ready = ::poll(&connection, 1, patience);
        if (ready > 0) {
            if (++m_readable_in_a_row <= 1000)
                return (connection.revents & ~POLLOUT) != 0 ? Wake::readable : Wake::writable;
            spun = true;
        }
        if (ready == 0 && !until) ADD_FAILURE() << "a wait without a deadline that nothing ended";
        m_readable_in_a_row = 0;
        now_ms = std::max(now_ms, until.value_or(now_ms + 1000));
        return Wake::deadline;
    }

    /// The deadlines waited for, each once, in order.
    std::vector<long long> deadlines() const {
        std::vector<long long> out;
        for (const Wait& w : waits)
            if (w.until_ms && (out.empty() || out.back() != *w.until_ms))
                out.push_back(*w.until_ms);
        return out;
    }

  private:
    int m_readable_in_a_row = 0;
};

TEST(MainLoop, EachPassSleepsUntilOneIntervalAfterItsStart) {
    LoopFixture f;
    f.settings.speed = 80;
    f.settings.quiet = true;
    FakeClock clock;
    clock.waits.reserve(4 * k_give_up_pass);
    // Passes of 30, 30, 95 (an overrun: no sleep) and 10 ms.
    const std::vector<long long> pass_ms = {30, 30, 95, 10};
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass < static_cast<int>(pass_ms.size())) clock.now_ms += pass_ms[pass];
        if (pass == 4) f.close();
    });
    EXPECT_EQ(f.run(hooks, clock), 0);
    const std::vector<long long> deadlines = clock.deadlines();
    ASSERT_GE(deadlines.size(), 4u);
    EXPECT_EQ(std::vector<long long>(deadlines.begin(), deadlines.begin() + 4),
              (std::vector<long long>{100'080, 100'160, 100'240, 100'335}));
    EXPECT_FALSE(clock.spun);
}

// Hidden for a while, the loop wakes once a second, and the rain has made one step per interval
// all the same.
TEST(MainLoop, HiddenLoopWakesOnceASecondAndKeepsItsSteps) {
    LoopFixture f;
    f.settings.speed = 100;
    f.settings.quiet = true;
    FakeClock clock;
    clock.waits.reserve(4 * k_give_up_pass);
    const long long start_ms = clock.now_ms;
    // The deadlines of the waits longer than a frame.
    const auto long_waits = [&] {
        std::vector<long long> out;
        for (const FakeClock::Wait& w : clock.waits)
            if (w.until_ms && *w.until_ms - w.at_ms > 100 &&
                (out.empty() || out.back() != *w.until_ms))
                out.push_back(*w.until_ms);
        return out;
    };
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass == 0) f.x.set_mapped(f.window->window(), false);
        if (long_waits().size() == 3) f.close();
    });
    EXPECT_EQ(f.run(hooks, clock), 0);
    const std::vector<long long> waits = long_waits();
    ASSERT_GE(waits.size(), 3u);
    for (std::size_t i = 1; i < waits.size(); ++i)
        EXPECT_EQ(waits[i] - waits[i - 1], 1000);
    // Passes take no time here, so every interval made one step, the last pass's included: the
    // close is read after its step.
    const long long steps = (clock.now_ms - start_ms) / 100 + 1;
    EXPECT_GT(steps, hooks.passes);
    RainState reference{8, 8, k_glyph_count, 42};
    for (long long i = 0; i < steps; ++i)
        reference.step_rain(f.settings.density);
    EXPECT_EQ(f.rain.grid(), reference.grid());
    EXPECT_TRUE(f.rain == reference);
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

// One 96 px frame as a PutImage.
constexpr std::uint64_t k_image_bytes = 24 + 96 * 96 * 4;

struct ReactionCase {
    const char* name;
    bool hidden; // the loop has been in its once-a-second wait for a while
    enum class Kind { click, close, signal, shown_again, reload } kind;
};

void PrintTo(const ReactionCase& c, std::ostream* os) {
    *os << c.name;
}

class MainLoopReaction : public ::testing::TestWithParam<ReactionCase> {};

// What arrives while the loop waits between frames is answered then, not at the next pass; a
// window shown again gets the current frame at once and the next one an interval later.
TEST_P(MainLoopReaction, IsAnsweredBeforeTheNextPass) {
    using Kind = ReactionCase::Kind;
    constexpr long long k_interval_ms = 100;
    const ReactionCase& c = GetParam();
    LoopFixture f;
    f.settings.speed = k_interval_ms;
    f.settings.quiet = true;
    FakeClock clock;
    clock.waits.reserve(4 * k_give_up_pass);
    // Hidden passes start once a second's worth of them saw no window.
    const int trigger = c.hidden ? 1000 / k_interval_ms + 2 : 2;
    long long triggered_ms = -1, answered_ms = -1;
    std::size_t waits_before = 0;
    std::uint64_t bytes_before = 0, bytes_after = 0;

    class Hooks : public ScriptedHooks {
      public:
        using ScriptedHooks::ScriptedHooks;
        std::function<void()> answered;
        bool reloaded = false;
        void on_button(std::uint8_t button) override {
            ScriptedHooks::on_button(button);
            answered();
        }
        void on_signal() override { answered(); }
        bool take_reloaded() override { return std::exchange(reloaded, false); }
    } hooks([&](ScriptedHooks&, int pass) {
        if (pass == 0 && c.hidden) f.x.set_mapped(f.window->window(), false);
        if (pass == trigger + 1 && c.kind == Kind::shown_again) {
            answered_ms = clock.now_ms;
            bytes_after = bytes_written();
        }
        if (pass == trigger) {
            waits_before = clock.waits.size();
            // Once the pass's frame is out, so that only the wait can see it come.
            clock.at_next_wait = [&] {
                triggered_ms = clock.now_ms;
                clock.patience_ms = 5000;
                bytes_before = bytes_written();
                switch (c.kind) {
                case Kind::click:
                    f.x.click(50, 50, 1);
                    break;
                case Kind::close:
                    f.close();
                    break;
                case Kind::reload: {
                    // Once the server has read the frames, so that the next one is not skipped.
                    pollfd drained{f.window->event_fd(), POLLOUT, 0};
                    ::poll(&drained, 1, 1000);
                    clock.signal_next = true;
                    break;
                }
                case Kind::signal:
                    clock.signal_next = true;
                    break;
                case Kind::shown_again:
                    f.x.set_mapped(f.window->window(), true);
                    break;
                }
            };
        }
        if (pass > trigger + 1) f.close();
    });
    bool new_colours_shown = false;
    hooks.answered = [&] {
        if (answered_ms < 0) answered_ms = clock.now_ms;
        clock.patience_ms = 0;
        if (c.kind != Kind::reload) return;
        // New colours, and the current step shown in them before the clock moves on. (Heads
        // only: a late Expose of the map may have cleared parts that the next pass redraws.)
        f.settings.color = {255, 0, 0};
        hooks.reloaded = true;
        clock.at_next_wait = [&] {
            const std::vector<std::uint32_t> seen = f.shown(f.window->window(), f.composed());
            new_colours_shown =
                std::ranges::count(seen, 0xb4ffb4u) == 0 && std::ranges::count(seen, 0xff0000u) > 0;
        };
    };
    EXPECT_EQ(f.run(hooks, clock), 0);
    if (c.kind == Kind::close) answered_ms = clock.now_ms;

    // The wait that the reaction ended: a frame's or the once-a-second one.
    ASSERT_GT(clock.waits.size(), waits_before);
    const FakeClock::Wait& first = clock.waits[waits_before];
    ASSERT_TRUE(first.until_ms);
    EXPECT_EQ(*first.until_ms - first.at_ms, c.hidden ? 1000 : k_interval_ms);
    ASSERT_GE(answered_ms, triggered_ms);
    if (c.kind == Kind::shown_again) {
        // Back at the pace of the frames, with this interval's frame already sent.
        EXPECT_EQ(answered_ms - triggered_ms, k_interval_ms);
        EXPECT_GE(bytes_after - bytes_before, k_image_bytes);
    } else {
        EXPECT_EQ(answered_ms, triggered_ms); // passes take no time here
    }
    if (c.kind == Kind::click) {
        EXPECT_EQ(hooks.buttons, std::vector<std::uint8_t>{1});
    }
    EXPECT_EQ(new_colours_shown, c.kind == Kind::reload);
    EXPECT_FALSE(clock.spun);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, MainLoopReaction,
    ::testing::Values(ReactionCase{"shownClick", false, ReactionCase::Kind::click},
                      ReactionCase{"shownClose", false, ReactionCase::Kind::close},
                      ReactionCase{"shownSignal", false, ReactionCase::Kind::signal},
                      ReactionCase{"shownReload", false, ReactionCase::Kind::reload},
                      ReactionCase{"hiddenClose", true, ReactionCase::Kind::close},
                      ReactionCase{"hiddenSignal", true, ReactionCase::Kind::signal},
                      ReactionCase{"hiddenShownAgain", true, ReactionCase::Kind::shown_again}),
    [](const ::testing::TestParamInfo<ReactionCase>& p) { return std::string(p.param.name); });

/// Sends SIGCONT to a process on the way out, so a failing test leaves no stopped server behind.
struct ContinueOnExit {
    pid_t pid;
    ~ContinueOnExit() { ::kill(pid, SIGCONT); }
};

class MainLoopStalled : public ::testing::TestWithParam<std::uint16_t> {};

// A stopped server keeps both shared segments, or leaves the socket full on the PutImage path;
// after a few skipped frames the loop waits for the connection instead of waking every interval
// or blocking in a write (which hangs the test until its timeout), answers signals meanwhile,
// and goes on when the server does.
TEST_P(MainLoopStalled, ServerIsWaitedForOnTheConnection) {
    LoopFixture f(GetParam());
    ASSERT_EQ(f.window->shares_memory(), GetParam() >= 128);
    f.settings.speed = 10;
    f.settings.quiet = true;
    FakeClock clock;
    clock.waits.reserve(4 * k_give_up_pass);
    ContinueOnExit resume{f.server.pid()};
    const long long start_ms = clock.now_ms;
    int endless_waits = 0, resumed_pass = -1, signals_in_stall = 0;
    clock.on_endless_wait = [&] {
        // The first stalled wait is ended by a signal, the next by the server going on a second
        // later.
        if (++endless_waits == 1) clock.signal_next = true;
        if (endless_waits != 2) return;
        clock.now_ms += 1000;
        ::kill(f.server.pid(), SIGCONT);
    };
    class Hooks : public ScriptedHooks {
      public:
        using ScriptedHooks::ScriptedHooks;
        int* signals = nullptr;
        void on_signal() override { ++*signals; }
    } hooks([&](ScriptedHooks&, int pass) {
        if (pass == 2) ::kill(f.server.pid(), SIGSTOP);
        if (endless_waits > 0 && resumed_pass < 0) resumed_pass = pass;
        if (resumed_pass >= 0 && pass == resumed_pass + 5) f.close();
    });
    hooks.signals = &signals_in_stall;
    EXPECT_EQ(f.run(hooks, clock), 0);
    EXPECT_GE(endless_waits, 2);
    EXPECT_EQ(signals_in_stall, 1);
    EXPECT_EQ(f.window->shares_memory(), GetParam() >= 128);
    EXPECT_FALSE(clock.spun);
    // The steps that fell due during the stall were made: one per interval, the last pass's too.
    RainState reference{8, 8, k_glyph_count, 42};
    for (long long i = 0; i <= (clock.now_ms - start_ms) / 10; ++i)
        reference.step_rain(f.settings.density);
    EXPECT_TRUE(f.rain == reference);
}

INSTANTIATE_TEST_SUITE_P(Paths, MainLoopStalled, ::testing::Values(96, 256),
                         [](const ::testing::TestParamInfo<std::uint16_t>& p) {
                             return p.param < 128 ? "putImage" : "sharedMemory";
                         });

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
    constexpr int last_pass = 12; // the close is read after this pass's step, the 13th
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
        // The close is read right after the last frame went out, which the server may not
        // have drawn yet when the image is asked for on another connection.
        RainState rain{8, 8, k_glyph_count, 42};
        FrameBuffer expected(size, size);
        for (int step = 0; step <= last_pass; ++step)
            rain.step_rain(f.settings.density);
        compose_frame(expected, rain, f.atlas, f.settings, f.window->lsb_first());
        ASSERT_TRUE(f.window->lsb_first() && std::endian::native == std::endian::little)
            << "the reference below reads words as 0x00RRGGBB";
        std::vector<std::uint32_t> reference(expected.pixels().begin(), expected.pixels().end());
        shown.push_back(f.x.image(f.window->window(), 0, 0, size, size));
        for (int i = 0; i < 100 && shown.back() != reference; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            shown.back() = f.x.image(f.window->window(), 0, 0, size, size);
        }
        EXPECT_EQ(f.window->shares_memory(), !no_shm);
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

struct ViewCase {
    const char* name;
    std::function<void(LoopFixture&)> arrange; // what a window manager or another client does
    std::uint64_t windows_drawn;               // PutImages each pass afterwards
    const char* told = "";                     // the line about a smaller dock, if any
    int last_pass = 25; // a line is told only after a second: such rows run longer
    std::function<void(LoopFixture&)> again = nullptr; // at pass last_pass / 2, if any
};

void PrintTo(const ViewCase& c, std::ostream* os) {
    *os << c.name;
}

class MainLoopViewable : public ::testing::TestWithParam<ViewCase> {};

/// Bytes of the PutImages that send the changes of steps first + 1 to last of the fixture's rain
/// to one 96 px window that showed step first.
std::uint64_t changed_bytes(LoopFixture& f, int first, int last) {
    RainState rain{8, 8, k_glyph_count, 42};
    PartialCompositor partial(f.atlas, 8, 8, 1);
    partial.set_request_cost(k_request_cost_px);
    FrameBuffer buffer(96, 96);
    std::uint64_t bytes = 0;
    for (int step = 1; step <= last; ++step) {
        rain.step_rain(f.settings.density);
        for (const PixelRect& r : partial.compose_changed(buffer, 0, rain, f.settings, true))
            if (step > first) bytes += 24 + std::uint64_t{r.width} * r.height * 4;
    }
    return bytes;
}

// Each frame of 96 px sends its changes as PutImages to every viewable window, so the bytes
// written over a run of passes count the windows drawn; a whole frame sent again after an
// Expose or a new size is the margin, twice as wide for a row that acts again later.
TEST_P(MainLoopViewable, ImagesGoOnlyToViewableWindows) {
    constexpr int k_first = 5;
    const int last = GetParam().last_pass;
    LoopFixture f;
    std::uint64_t before = 0, after = 0;
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass == 0) GetParam().arrange(f);
        if (pass == last / 2 && GetParam().again) GetParam().again(f);
        if (pass == k_first) before = bytes_written();
        if (pass == last) {
            after = bytes_written();
            f.close();
        }
    });
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(f.run(hooks), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              std::string(GetParam().told) + "glyphRain: exiting\n");
    const std::uint64_t changes = GetParam().windows_drawn * changed_bytes(f, k_first, last);
    EXPECT_GE(after - before, changes);
    EXPECT_LT(after - before, changes + (GetParam().again ? 4 : 2) * k_image_bytes);
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
                 0},
        // Another client's window holding the dock window: unmapping it tells nothing to the
        // window inside.
        ViewCase{"holderUnmapped",
                 [](LoopFixture& f) {
                     const xcb_window_t holder = f.x.create_window(0, 0, 96, 96, true);
                     f.x.reparent(f.window->window(), holder, 0, 0);
                     f.x.set_mapped(holder, false);
                 },
                 0},
        // A dock holding the icon window: the main window, wherever the dock leaves it, is
        // neither drawn nor seen.
        ViewCase{"iconDocked",
                 [](LoopFixture& f) {
                     const xcb_window_t slit = f.x.create_window(200, 0, 97, 98, true);
                     f.x.reparent(f.window->icon_window(), slit, 0, 1);
                     f.x.set_mapped(f.window->icon_window(), true);
                     f.x.move(f.window->window(), -50, -50);
                 },
                 1},
        ViewCase{"holderFitsWindow",
                 [](LoopFixture& f) {
                     f.x.reparent(f.window->window(), f.x.create_window(0, 0, 96, 96, true), 0, 0);
                 },
                 1, "", 130},
        ViewCase{"resizedTo64", [](LoopFixture& f) { f.x.resize(f.window->window(), 64, 64); }, 1,
                 "glyphRain: the dock shows 64x64 of the 96x96 window; set its tile or icon size "
                 "to 96\n",
                 130},
        ViewCase{"smallHolder",
                 [](LoopFixture& f) {
                     const xcb_window_t tile = f.x.create_window(0, 0, 64, 64, true);
                     f.x.reparent(f.window->window(), tile, -16, -16);
                 },
                 1,
                 "glyphRain: the dock shows 64x64 of the 96x96 window; set its tile or icon size "
                 "to 96\n",
                 130},
        // Shown whole for a moment between two equal smaller views: told each time.
        ViewCase{"smallerAgainAfterWhole",
                 [](LoopFixture& f) { f.x.resize(f.window->window(), 64, 64); }, 1,
                 "glyphRain: the dock shows 64x64 of the 96x96 window; set its tile or icon size "
                 "to 96\nglyphRain: the dock shows 64x64 of the 96x96 window; set its tile or "
                 "icon size to 96\n",
                 260,
                 [](LoopFixture& f) {
                     f.x.resize(f.window->window(), 96, 96);
                     f.x.resize(f.window->window(), 64, 64);
                 }}),
    [](const ::testing::TestParamInfo<ViewCase>& p) { return std::string(p.param.name); });

struct WholeCase {
    const char* name;
    std::uint16_t size;
    bool no_shm;
    bool shared; // frames go through shared memory at the end
    bool icon;   // the icon window is shown beside the dock window, and the trigger acts on it
    std::function<void(LoopFixture&, std::uint32_t)> trigger; // at pass k_trigger, on a window
    std::function<void(LoopFixture&, std::uint32_t)> after;   // two passes later
};

void PrintTo(const WholeCase& c, std::ostream* os) {
    *os << c.name;
}

class MainLoopWholeFrames : public ::testing::TestWithParam<WholeCase> {};

// Frames send only what changed; wherever the window's picture is new or lost the whole frame
// goes again, so every window shows exactly the frame of the current step. The bevel never
// changes, so a part left out stays wrong however many frames follow.
TEST_P(MainLoopWholeFrames, WindowsShowTheComposedFrame) {
    constexpr int k_trigger = 3, k_last = 12;
    const WholeCase& c = GetParam();
    LoopFixture f(c.size, c.no_shm);
    f.settings.quiet = true;
    f.settings.speed = 20;
    const std::uint32_t target = c.icon ? f.window->icon_window() : f.window->window();
    ScriptedHooks hooks([&](ScriptedHooks&, int pass) {
        if (pass == 0 && c.icon) {
            f.x.move(f.window->icon_window(), static_cast<std::int16_t>(c.size + 10), 0);
            f.x.set_mapped(f.window->icon_window(), true);
        }
        if (pass == k_trigger && c.trigger) c.trigger(f, target);
        if (pass == k_trigger + 2 && c.after) c.after(f, target);
        if (pass == (c.trigger ? k_last : 2)) f.close();
    });
    EXPECT_EQ(f.run(hooks), 0);
    const std::vector<std::uint32_t> expected = f.composed();
    EXPECT_EQ(f.shown(f.window->window(), expected), expected) << "dock window";
    if (c.icon) {
        EXPECT_EQ(f.shown(target, expected), expected) << "icon window";
    }
    EXPECT_EQ(f.window->shares_memory(), c.shared);
}

void reload_colours(LoopFixture& f, std::uint32_t) {
    f.settings.color = {250, 10, 10};
    f.settings.trail_color = {10, 10, 250};
    f.settings.theme = "zenburn";
}
void unmap(LoopFixture& f, std::uint32_t window) {
    f.x.set_mapped(window, false);
}
void map(LoopFixture& f, std::uint32_t window) {
    f.x.set_mapped(window, true);
}
void clear(LoopFixture& f, std::uint32_t window) {
    f.x.clear_area(window);
}
// A shared-memory request the server refuses: the loop goes on by PutImage.
void refuse_shared_frame(LoopFixture& f, std::uint32_t) {
    const std::span<std::uint8_t> memory = f.window->frame_memory(f.frame.bytes());
    if (memory.empty()) throw std::logic_error("no segment free");
    f.window->send_frame(XCB_NONE, memory);
    f.window->flush();
}

INSTANTIATE_TEST_SUITE_P(
    Triggers, MainLoopWholeFrames,
    ::testing::Values(
        WholeCase{"firstFrame96", 96, false, false, false, nullptr, nullptr},
        WholeCase{"firstFrameShm128", 128, false, true, true, nullptr, nullptr},
        WholeCase{"reloadColours96", 96, false, false, false, reload_colours, nullptr},
        WholeCase{"reloadColoursShm128", 128, false, true, true, reload_colours, nullptr},
        WholeCase{"shownAgain96", 96, false, false, true, unmap, map},
        WholeCase{"shownAgainShm128", 128, false, true, false, unmap, map},
        WholeCase{"expose96", 96, false, false, true, clear, nullptr},
        WholeCase{"exposeShm128", 128, false, true, false, clear, nullptr},
        WholeCase{"exposeNoShm256", 256, true, false, true, clear, nullptr},
        WholeCase{"putImageAfterShmError128", 128, false, false, false, refuse_shared_frame,
                  nullptr}),
    [](const ::testing::TestParamInfo<WholeCase>& p) { return std::string(p.param.name); });

} // namespace
} // namespace glyphrain

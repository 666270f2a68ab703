// SPDX-License-Identifier: MIT
// The layer surface in-process on a private headless sway: the main loop's frames as sway shows
// them in the placed corner, and a surface that nothing shows for a while.
#include "display/wayland/layer_surface.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/main_loop.hpp"
#include "support/proc_probe.hpp"
#include "support/process_runner.hpp"
#include "support/sway.hpp"
#include "support/xvfb.hpp"

namespace glyphrain {
namespace {

using test::now_ms;

constexpr std::uint16_t k_size = 96;
constexpr int k_give_up_ms = 20000;

/// Thrown by a script's hook to end the run where the test wants it.
struct RunEnded {};

/// Runs a script with the pass number before every rain step; the run ends once the script
/// returns true, and fails when it lasts k_give_up_ms.
class ScriptedHooks final : public LoopHooks {
  public:
    explicit ScriptedHooks(std::function<bool(int)> script) : m_script(std::move(script)) {}
    void before_step() override {
        if (now_ms() > m_give_up_ms) throw std::logic_error("the loop did not end");
        if (m_script(m_passes++)) throw RunEnded{};
    }

  private:
    std::function<bool(int)> m_script;
    int m_passes = 0;
    long long m_give_up_ms = now_ms() + k_give_up_ms;
};

/// The layer surface as the loop sees it, noting when frames are taken and sent.
class WatchedDisplay final : public Display {
  public:
    explicit WatchedDisplay(std::unique_ptr<Display> inner) : m_inner(std::move(inner)) {}
    std::span<const std::uint32_t> viewable_targets() const noexcept override {
        return m_inner->viewable_targets();
    }
    std::span<std::uint8_t> frame_memory(std::span<std::uint8_t> client) noexcept override {
        const std::span<std::uint8_t> memory = m_inner->frame_memory(client);
        taken += !memory.empty();
        return memory;
    }
    std::size_t memory_index(std::span<const std::uint8_t> memory) const noexcept override {
        return m_inner->memory_index(memory);
    }
    void send_frame(std::uint32_t target, std::span<const std::uint8_t> pixels,
                    std::span<const PixelRect> rects) override {
        if (!rects.empty()) sent_ms.push_back(now_ms());
        m_inner->send_frame(target, pixels, rects);
    }
    void flush() override { m_inner->flush(); }
    DisplayEvent poll_event(bool read) override { return m_inner->poll_event(read); }
    int event_fd() const noexcept override { return m_inner->event_fd(); }
    bool output_blocked() const noexcept override { return m_inner->output_blocked(); }
    bool lsb_first() const noexcept override { return m_inner->lsb_first(); }
    std::uint16_t size() const noexcept override { return m_inner->size(); }

    int taken = 0;                  // frames the loop was given memory for
    std::vector<long long> sent_ms; // when a frame with changes went

  private:
    std::unique_ptr<Display> m_inner;
};

/// The real clock, noting when each wait began.
class RecordingClock final : public LoopClock {
  public:
    timespec now() noexcept override { return m_clock.now(); }
    Wake wait_until(const std::optional<timespec>& deadline, int fd,
                    bool writable) noexcept override {
        if (waits_ms.size() < waits_ms.capacity()) waits_ms.push_back(now_ms());
        return m_clock.wait_until(deadline, fd, writable);
    }
    std::vector<long long> waits_ms; // up to the capacity reserved

  private:
    MonotonicClock m_clock;
};

/// Sets the variables in this process for its life, as a session would for the program.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const test::Environment& env) {
        for (const auto& [name, value] : env) {
            const char* old = std::getenv(name.c_str());
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            set(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : m_saved)
            set(name, value);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    static void set(const std::string& name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

/// A layer surface of k_size px on a private sway, an 8 x 8 grid of solid 6 x 6 glyphs, the rain
/// seeded 42, 20 ms frames.
struct LayerFixture {
    test::SwayServer sway;
    ScopedEnvironment env{sway.client_env()};
    Settings settings;
    GlyphAtlas atlas;
    RainState rain{8, 8, k_glyph_count, 42};
    FrameBuffer frame{k_size, k_size};
    std::unique_ptr<PartialCompositor> partial;
    std::unique_ptr<WatchedDisplay> display;

    explicit LayerFixture(const Placement& placement) {
        settings.speed = 20;
        settings.quiet = true;
        GlyphBitmap solid;
        solid.coverage.assign(36, 255);
        solid.width = solid.height = 6;
        atlas.glyphs.assign(k_glyph_count, solid);
        atlas.cell_width = atlas.cell_height = 10;
        atlas.ascent = 8;
        partial = std::make_unique<PartialCompositor>(atlas, 8, 8, k_frame_buffers);
        std::unique_ptr<Display> surface = open_layer_surface(k_size, placement);
        if (!surface) throw std::runtime_error("sway offers no layer shell");
        display = std::make_unique<WatchedDisplay>(std::move(surface));
    }
    /// Runs the loop until the script ends it.
    void run(std::function<bool(int)> script, LoopClock& clock) {
        ScriptedHooks hooks(std::move(script));
        EXPECT_THROW(
            run_main_loop({settings, rain, atlas, frame, *display, *partial}, hooks, clock),
            RunEnded);
    }
    /// True once per pass whose frame went to the surface since the last call.
    bool frame_went() { return display->taken > std::exchange(m_taken, display->taken); }
    /// The frame of the current state as 0xRRGGBB words, as grim reads them.
    std::vector<std::uint32_t> composed() {
        FrameBuffer expected(k_size, k_size);
        compose_frame(expected, rain, atlas, settings, display->lsb_first());
        if (!display->lsb_first() || std::endian::native != std::endian::little)
            throw std::logic_error("the reference reads words as 0x00RRGGBB");
        return {expected.pixels().begin(), expected.pixels().end()};
    }
    /// What the output shows at (x, y) once it equals expected, or after two seconds.
    std::vector<std::uint32_t> shown(int x, int y, const std::vector<std::uint32_t>& expected) {
        std::vector<std::uint32_t> seen;
        (void)test::eventually([&] { return (seen = sway.grim(x, y, k_size, k_size)) == expected; },
                               2000);
        return seen;
    }

  private:
    int m_taken = 0;
};

struct CornerCase {
    const char* name;
    Placement::Corner corner;
    std::uint32_t margin;
    int passes; // frames of changes only, after the first whole one
    int x, y;   // where the surface lands on the output
};

void PrintTo(const CornerCase& c, std::ostream* os) {
    *os << c.name;
}

class LayerSurfaceCorners : public ::testing::TestWithParam<CornerCase> {
  protected:
    void SetUp() override {
        if (auto why = test::sway_missing()) GTEST_SKIP() << *why;
    }
};

// The corner shows exactly the frame the compositor makes of the current step; after many frames
// that send only their changes, no cell is left behind from an older one.
TEST_P(LayerSurfaceCorners, ShowsTheComposedFrameOfTheCurrentStep) {
    const CornerCase& c = GetParam();
    LayerFixture f({.corner = c.corner, .margin = c.margin});
    MonotonicClock clock;
    f.run([&](int pass) { return f.frame_went() && pass >= c.passes; }, clock);
    const std::vector<std::uint32_t> expected = f.composed();
    EXPECT_EQ(f.shown(c.x, c.y, expected), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Placements, LayerSurfaceCorners,
    ::testing::Values(CornerCase{"topRight", Placement::Corner::top_right, 0, 3,
                                 test::k_output_width - k_size, 0},
                      CornerCase{"topLeftMargin5", Placement::Corner::top_left, 5, 3, 5, 5},
                      CornerCase{"bottomRightMargin20", Placement::Corner::bottom_right, 20, 3,
                                 test::k_output_width - k_size - 20,
                                 test::k_output_height - k_size - 20},
                      CornerCase{"bottomLeftMargin10After40Frames", Placement::Corner::bottom_left,
                                 10, 40, 10, test::k_output_height - k_size - 10}),
    [](const ::testing::TestParamInfo<CornerCase>& p) { return std::string(p.param.name); });

// An opaque surface over the whole output stops sway's frame callbacks to the one below, as an
// output switched off does (which sway's headless output cannot be). Meanwhile no frame goes and
// the loop wakes about once a second; uncovered, the surface shows the current step at once.
TEST(LayerSurface, CoveredSurfaceWaitsAndShowsTheCurrentStepWhenUncovered) {
    if (auto why = test::sway_missing()) GTEST_SKIP() << *why;
    LayerFixture f({});
    test::TempDir home;
    test::Environment cover_env = f.sway.client_env();
    cover_env.insert({{"HOME", home.path()}, {"XDG_CONFIG_HOME", home.path()}});
    std::unique_ptr<test::BackgroundProcess> cover;
    // The other glyphRain's bevel along the output's left edge, where sway's background was.
    const std::vector<std::uint32_t> bare = f.sway.grim(0, 300, 1, 1);
    const auto covered = [&] {
        const std::vector<std::uint32_t> edge = f.sway.grim(0, 300, 1, 1);
        return !edge.empty() && edge != bare;
    };
    long long covered_ms = 0, uncovered_ms = 0;
    RecordingClock clock;
    clock.waits_ms.reserve(4000); // far more waits than this run makes
    f.run(
        [&](int pass) {
            const bool went = f.frame_went();
            if (pass == 5)
                cover = std::make_unique<test::BackgroundProcess>(
                    test::glyphrain_binary(),
                    std::vector<std::string>{"--size", "800", "--corner", "top-left", "--layer",
                                             "overlay", "--speed", "1000", "--quiet"},
                    cover_env, home.path());
            if (cover && covered_ms == 0 && covered()) covered_ms = now_ms();
            if (covered_ms != 0 && uncovered_ms == 0 && now_ms() >= covered_ms + 2000) {
                cover->stop();
                uncovered_ms = now_ms();
                return false;
            }
            return uncovered_ms != 0 && went;
        },
        clock);
    ASSERT_NE(covered_ms, 0) << "the cover never showed: " << (cover ? cover->err() : "");
    const auto count_between = [](const std::vector<long long>& times, long long from,
                                  long long to) {
        return std::count_if(times.begin(), times.end(),
                             [&](long long t) { return t >= from && t < to; });
    };
    EXPECT_EQ(count_between(f.display->sent_ms, covered_ms + 100, uncovered_ms), 0);
    // Once nothing has shown for a second: not every 20 ms, but about once a second.
    EXPECT_LE(count_between(clock.waits_ms, covered_ms + 1100, uncovered_ms), 3);
    const std::vector<long long>& sent = f.display->sent_ms;
    const auto again =
        std::find_if(sent.begin(), sent.end(), [&](long long t) { return t >= uncovered_ms; });
    ASSERT_NE(again, sent.end());
    EXPECT_LT(*again - uncovered_ms, 500); // well before the next wake a second later
    const std::vector<std::uint32_t> expected = f.composed();
    EXPECT_EQ(f.shown(test::k_output_width - k_size, 0, expected), expected);
}

} // namespace
} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The animation loop: drain events, step the rain, compose and show a frame, sleep until the next.
#pragma once

#include <cstdint>
#include <ctime>

#include "config/settings.hpp"
#include "display/dock_window.hpp"
#include "glyphs/glyph_atlas.hpp"
#include "rain/compositor.hpp"
#include "rain/rain_state.hpp"

namespace glyphrain {

/// Reactions the loop delegates: clicks on the input window and per-pass work before the step
/// (reload requests, reaping finished click commands). The defaults do nothing.
class LoopHooks {
  public:
    virtual ~LoopHooks() = default;
    /// A press on the input window with its X button number, handled in arrival order.
    virtual void on_button(std::uint8_t button) { (void)button; }
    /// Runs once per pass, after the events are drained and before the rain step.
    virtual void before_step() {}
};

/// Everything the loop works on; start-up owns it all for the life of the run.
struct LoopState {
    Settings& settings; // may be replaced whole by a hook; read afresh at every use
    RainState& rain;
    const GlyphAtlas& atlas;
    FrameBuffer& frame;
    DockWindow& window;
};

/// The loop's time: a monotonic clock and a sleep until an absolute point on it, which returns at
/// once for a point already past; wait_until also returns early when fd turns readable or a
/// signal arrives. Tests put a clock of their own here.
struct LoopClock {
    timespec (*now)() noexcept;
    void (*sleep_until)(const timespec& deadline) noexcept;
    void (*wait_until)(const timespec& deadline, int fd) noexcept;
};

/// CLOCK_MONOTONIC: clock_nanosleep on it resumed after every signal, and ppoll for the wait.
LoopClock monotonic_clock() noexcept;

/// How long nothing may show before the loop wakes only this often, making the steps that fell
/// due in between all at once.
inline constexpr std::uint64_t k_hidden_wake_ms = 1000;

/// Runs passes until a close request (prints "glyphRain: exiting" unless quiet) or a destroyed
/// window; returns the exit status 0. Connection errors are thrown. The frame interval is the
/// speed at entry; later changes of settings.speed do not affect it. Each pass sleeps until one
/// interval after its own start, so a slow pass shortens the sleep and an overrun skips it.
/// Once nothing has shown for k_hidden_wake_ms, a pass waits that long (or until an event or a
/// signal) and then makes the steps that fell due meanwhile, so the rain is where it would be.
int run_main_loop(const LoopState& state, LoopHooks& hooks,
                  const LoopClock& clock = monotonic_clock());

/// speed_ms as a timespec.
timespec frame_interval(std::uint64_t speed_ms) noexcept;

/// start + interval with the nanoseconds normalised below one second.
timespec deadline_after(const timespec& start, const timespec& interval) noexcept;

} // namespace glyphrain

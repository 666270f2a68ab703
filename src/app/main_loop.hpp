// SPDX-License-Identifier: MIT
// The animation loop: one rain step and frame per interval, and between frames a wait that answers
// clicks, close requests and signals at once.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>

#include "config/settings.hpp"
#include "display/display.hpp"
#include "glyphs/glyph_atlas.hpp"
#include "rain/compositor.hpp"
#include "rain/partial_compositor.hpp"
#include "rain/rain_state.hpp"

namespace glyphrain {

/// Reactions the loop delegates: clicks on the input window and the work that signals ask for
/// (reload requests, reaping finished click commands). The defaults do nothing.
class LoopHooks {
  public:
    virtual ~LoopHooks() = default;
    /// A press on the input window with its X button number, handled in arrival order.
    virtual void on_button(std::uint8_t button) { (void)button; }
    /// Runs once per pass, after the events are drained and before the rain step.
    virtual void before_step() {}
    /// A signal ended a wait between frames: serve at once what it asked for.
    virtual void on_signal() {}
    /// True once after a reaction replaced the settings, so that the current step is shown again
    /// at once in their colours rather than at the next frame, an interval later.
    virtual bool take_reloaded() { return false; }
};

/// Everything the loop works on; start-up owns it all for the life of the run.
struct LoopState {
    Settings& settings; // may be replaced whole by a hook; read afresh at every use
    RainState& rain;
    const GlyphAtlas& atlas;
    FrameBuffer& frame; // the client buffer, for displays that take frames from the client
    Display& display;
    // Made for rain and atlas with k_frame_buffers buffers: the client buffer is number 0 and the
    // display's own buffers follow it (Display::memory_index).
    PartialCompositor& partial;
};

/// Buffers the loop composes into by turns: the client buffer and two of the display's own.
inline constexpr std::size_t k_frame_buffers = 3;

/// What one more request costs the client and the server together, in pixels sent: neighbouring
/// changed rectangles are sent as one while that adds no more pixels than this. Measured on Xvfb
/// against 0, 64 and 4096, by PutImage at 96 px and through shared memory at 512 and 1024 px.
inline constexpr std::size_t k_request_cost_px = 1024;

/// What ended a wait.
enum class Wake {
    deadline, // the deadline passed (or there was none and the wait gave up)
    readable, // the descriptor turned readable (or hung up)
    writable, // the descriptor, watched for it, can take more
    signal,   // a signal was delivered
};

/// The loop's time: a monotonic clock and a wait on it. Tests put a clock of their own here.
class LoopClock {
  public:
    virtual ~LoopClock() = default;
    virtual timespec now() noexcept = 0;
    /// Waits until deadline (for ever without one), until fd turns readable (or, with writable,
    /// can take more) or until a signal is delivered, whichever comes first. A deadline already
    /// past still looks at fd and at the pending signals, without waiting.
    virtual Wake wait_until(const std::optional<timespec>& deadline, int fd,
                            bool writable = false) noexcept = 0;
};

/// CLOCK_MONOTONIC and ppoll. For its life SIGHUP and SIGCHLD are blocked except inside the wait,
/// which lets them in atomically, so one that arrives while a frame is made ends the next wait at
/// once instead of waiting for its deadline. Create at most one at a time.
class MonotonicClock final : public LoopClock {
  public:
    MonotonicClock() noexcept;
    ~MonotonicClock() override;
    MonotonicClock(const MonotonicClock&) = delete;
    MonotonicClock& operator=(const MonotonicClock&) = delete;

    timespec now() noexcept override;
    Wake wait_until(const std::optional<timespec>& deadline, int fd,
                    bool writable = false) noexcept override;

  private:
    sigset_t m_previous{}; // the mask before, restored at the end
};

/// How long nothing may show before the loop wakes only this often, making the steps that fell
/// due in between all at once.
inline constexpr std::uint64_t k_hidden_wake_ms = 1000;

/// Frames skipped in a row because the server still reads both shared segments or its socket is
/// full, after which the loop waits on the connection instead of the clock.
inline constexpr int k_stalled_frames = 3;

/// Runs passes until a close request (prints "glyphRain: exiting" unless quiet) or a destroyed
/// window; returns the exit status 0. Connection errors are thrown. The frame interval is the
/// speed at entry; later changes of settings.speed do not affect it. Each pass steps the rain
/// and shows a frame, then waits until one interval after its own start, so a slow pass shortens
/// the wait and an overrun skips it. The wait answers events and signals as they come; a window
/// that turns viewable during it gets the pass's frame at once.
/// Once nothing has shown for k_hidden_wake_ms, a pass waits that long (or until a window shows)
/// and then makes the steps that fell due meanwhile, so the rain is where it would be; after
/// k_stalled_frames skipped frames it waits for the next event, and catches up the same way.
int run_main_loop(const LoopState& state, LoopHooks& hooks, LoopClock& clock);

/// The same on a MonotonicClock.
int run_main_loop(const LoopState& state, LoopHooks& hooks);

/// speed_ms as a timespec.
timespec frame_interval(std::uint64_t speed_ms) noexcept;

/// start + interval with the nanoseconds normalised below one second.
timespec deadline_after(const timespec& start, const timespec& interval) noexcept;

} // namespace glyphrain

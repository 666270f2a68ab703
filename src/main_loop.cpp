// SPDX-License-Identifier: MIT
// One pass per frame interval on the monotonic clock; the sleep aims at an absolute deadline so
// signals neither shorten nor stretch it, and a late pass is simply followed by the next one.
#include "main_loop.hpp"

#include <algorithm>
#include <cerrno>
#include <poll.h>

#include "system/print.hpp"

namespace glyphrain {
namespace {

constexpr long k_ns_per_s = 1'000'000'000;

timespec monotonic_now() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

void sleep_until(const timespec& deadline) noexcept {
    // clock_nanosleep returns the error number itself; an interruption resumes the same deadline.
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

/// Nanoseconds from one point of the clock to another; negative when to is earlier.
long long ns_between(const timespec& from, const timespec& to) noexcept {
    return (to.tv_sec - from.tv_sec) * k_ns_per_s + (to.tv_nsec - from.tv_nsec);
}

void wait_until(const timespec& deadline, int fd) noexcept {
    const long long left = ns_between(monotonic_now(), deadline);
    if (left <= 0) return;
    const timespec timeout{static_cast<time_t>(left / k_ns_per_s),
                           static_cast<long>(left % k_ns_per_s)};
    pollfd readable{fd, POLLIN, 0};
    // Any way it ends is fine: the caller reads the clock and the events again.
    (void)::ppoll(&readable, 1, &timeout, nullptr);
}

/// Whole intervals from start to end (none when end is earlier).
std::uint64_t intervals_between(const timespec& start, const timespec& end,
                                std::uint64_t interval_ms) noexcept {
    const long long ns = ns_between(start, end);
    return ns <= 0 ? 0 : static_cast<std::uint64_t>(ns) / (interval_ms * 1'000'000);
}

} // namespace

LoopClock monotonic_clock() noexcept {
    return {monotonic_now, sleep_until, wait_until};
}

timespec frame_interval(std::uint64_t speed_ms) noexcept {
    timespec interval{};
    interval.tv_sec = static_cast<time_t>(speed_ms / 1000);
    interval.tv_nsec = static_cast<long>(speed_ms % 1000) * 1'000'000;
    return interval;
}

timespec deadline_after(const timespec& start, const timespec& interval) noexcept {
    timespec deadline{};
    deadline.tv_sec = start.tv_sec + interval.tv_sec;
    deadline.tv_nsec = start.tv_nsec + interval.tv_nsec;
    if (deadline.tv_nsec >= k_ns_per_s) {
        deadline.tv_nsec -= k_ns_per_s;
        ++deadline.tv_sec;
    }
    return deadline;
}

int run_main_loop(const LoopState& state, LoopHooks& hooks, const LoopClock& clock) {
    const std::uint64_t speed = std::max<std::uint64_t>(state.settings.speed, 1);
    const timespec interval = frame_interval(speed);
    const std::uint64_t hidden_batch = std::max<std::uint64_t>(k_hidden_wake_ms / speed, 1);
    const timespec hidden_wait = frame_interval(speed * hidden_batch);
    std::uint64_t hidden_passes = 0;
    for (;;) {
        const timespec frame_start = clock.now();

        for (DockEvent event = state.window.poll_event(); event.kind != DockEvent::Kind::none;
             event = state.window.poll_event()) {
            switch (event.kind) {
            case DockEvent::Kind::button_press:
                hooks.on_button(event.button);
                break;
            case DockEvent::Kind::close_request:
                if (!state.settings.quiet) print_stderr("glyphRain: exiting\n");
                return 0;
            case DockEvent::Kind::destroyed:
                return 0;
            case DockEvent::Kind::shown_smaller:
                if (!state.settings.quiet)
                    print_stderr("glyphRain: the dock shows {}x{} of the {}x{} window; set its "
                                 "tile or icon size to {}\n",
                                 event.shown.width, event.shown.height, state.window.size(),
                                 state.window.size(), state.window.size());
                break;
            case DockEvent::Kind::none:
            case DockEvent::Kind::other:
                break;
            }
        }
        hooks.before_step();

        // The rain keeps falling while nothing is shown, so it goes on where it would have been.
        state.rain.step_rain(state.settings.density);
        const auto targets = state.window.viewable_windows();
        hidden_passes = targets.empty() ? hidden_passes + 1 : 0;
        if (hidden_passes > hidden_batch) {
            // Hidden for a while: one wake-up per batch of frames costs next to nothing, and an
            // event (shown again, a close) or a signal (reload) still ends the wait at once.
            clock.wait_until(deadline_after(frame_start, hidden_wait), state.window.event_fd());
            const std::uint64_t due = intervals_between(frame_start, clock.now(), speed);
            if (due == 0) clock.sleep_until(deadline_after(frame_start, interval));
            // The next pass makes the last of them.
            for (std::uint64_t i = 1; i < due; ++i)
                state.rain.step_rain(state.settings.density);
            continue;
        }
        if (!targets.empty()) {
            // Large windows compose straight into memory shared with the server; while it still
            // reads both segments this frame is skipped, never waited for.
            const std::span<std::uint8_t> memory = state.window.frame_memory(state.frame.bytes());
            if (!memory.empty()) {
                FrameBuffer target(state.frame.width(), state.frame.height(), memory);
                compose_frame(target, state.rain, state.atlas, state.settings,
                              state.window.lsb_first());
                for (std::uint32_t window : targets)
                    state.window.send_frame(window, memory);
                state.window.flush();
            }
        }

        clock.sleep_until(deadline_after(frame_start, interval));
    }
}

} // namespace glyphrain

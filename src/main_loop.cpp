// SPDX-License-Identifier: MIT
// One pass per frame interval on the monotonic clock; the sleep aims at an absolute deadline so
// signals neither shorten nor stretch it, and a late pass is simply followed by the next one.
#include "main_loop.hpp"

#include <cerrno>

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

} // namespace

LoopClock monotonic_clock() noexcept {
    return {monotonic_now, sleep_until};
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
    const timespec interval = frame_interval(state.settings.speed);
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
            case DockEvent::Kind::none:
            case DockEvent::Kind::other:
                break;
            }
        }
        hooks.before_step();

        // The rain keeps falling while nothing is shown, so it goes on where it would have been.
        state.rain.step_rain(state.settings.density);
        const auto targets = state.window.viewable_windows();
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

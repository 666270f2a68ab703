// One pass per frame interval on the monotonic clock; the sleep aims at an absolute deadline so
// signals neither shorten nor stretch it, and a late pass is simply followed by the next one.
#include "main_loop.hpp"

#include <cerrno>

#include <fmt/core.h>

namespace glyphrain {
namespace {

constexpr long k_ns_per_s = 1'000'000'000;

void sleep_until(const timespec& deadline) noexcept {
    // clock_nanosleep returns the error number itself; an interruption resumes the same deadline.
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

} // namespace

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

int run_main_loop(const LoopState& state, LoopHooks& hooks) {
    const timespec interval = frame_interval(state.settings.speed);
    for (;;) {
        timespec frame_start{};
        ::clock_gettime(CLOCK_MONOTONIC, &frame_start);

        for (DockEvent event = state.window.poll_event(); event.kind != DockEvent::Kind::none;
             event = state.window.poll_event()) {
            switch (event.kind) {
            case DockEvent::Kind::button_press:
                hooks.on_button(event.button);
                break;
            case DockEvent::Kind::close_request:
                if (!state.settings.quiet) fmt::print(stderr, "glyphRain: exiting\n");
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
            compose_frame(state.frame, state.rain, state.atlas, state.settings,
                          state.window.lsb_first());
            for (std::uint32_t target : targets)
                state.window.present_frame(target, state.frame.bytes());
            state.window.flush();
        }

        sleep_until(deadline_after(frame_start, interval));
    }
}

} // namespace glyphrain

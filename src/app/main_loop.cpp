// SPDX-License-Identifier: MIT
// One pass per frame interval on the monotonic clock; between passes one wait on the deadline,
// the X connection and the signals at once, so reactions never wait for the next frame while the
// frames themselves keep their pace.
#include "app/main_loop.hpp"

#include <algorithm>
#include <cerrno>
#include <poll.h>

#include "system/print.hpp"

namespace glyphrain {
namespace {

constexpr long k_ns_per_s = 1'000'000'000;

/// Nanoseconds from one point of the clock to another; negative when to is earlier.
long long ns_between(const timespec& from, const timespec& to) noexcept {
    return (to.tv_sec - from.tv_sec) * k_ns_per_s + (to.tv_nsec - from.tv_nsec);
}

/// Whole intervals from start to end (none when end is earlier).
std::uint64_t intervals_between(const timespec& start, const timespec& end,
                                std::uint64_t interval_ms) noexcept {
    const long long ns = ns_between(start, end);
    return ns <= 0 ? 0 : static_cast<std::uint64_t>(ns) / (interval_ms * 1'000'000);
}

/// The signals whose work the loop does between frames.
sigset_t watched_signals() noexcept {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGCHLD);
    return set;
}

/// What a wait between frames is for.
enum class Until {
    deadline, // the next frame
    viewable, // hidden for a while: a target to show, or one wake-up for a batch of frames
    event,    // stalled: the display's next event (or its socket taking more), however long
};

/// The wait after a pass: the next frame, unless nothing has shown for more than hidden_batch
/// passes or the last k_stalled_frames frames were skipped.
Until choose_wait(std::uint64_t hidden_passes, std::uint64_t hidden_batch, int skipped) noexcept {
    if (hidden_passes > hidden_batch) return Until::viewable;
    if (skipped >= k_stalled_frames) return Until::event;
    return Until::deadline;
}

/// One run: the state it works on and what the current pass has done.
class Loop {
  public:
    Loop(const LoopState& state, LoopHooks& hooks, LoopClock& clock)
        : m_state(state), m_hooks(hooks), m_clock(clock),
          m_interval_ms(std::max<std::uint64_t>(state.settings.speed, 1)),
          m_interval(frame_interval(m_interval_ms)),
          m_hidden_batch(std::max<std::uint64_t>(k_hidden_wake_ms / m_interval_ms, 1)),
          m_hidden_wait(frame_interval(m_interval_ms * m_hidden_batch)) {
        state.partial.set_request_cost(k_request_cost_px);
    }

    int run() {
        std::uint64_t hidden_passes = 0;
        int skipped = 0;
        while (!m_ended) {
            const timespec frame_start = m_clock.now();
            // Whatever a flush read in passing since the last wait.
            drain(false);
            if (m_ended) break;
            m_hooks.before_step();
            (void)m_hooks.take_reloaded(); // this pass's frame shows any new look

            // The rain keeps falling while nothing is shown, so it goes on where it would have
            // been.
            m_state.rain.step_rain(m_state.settings.density);
            m_unshown = m_state.display.viewable_targets().empty();
            hidden_passes = m_unshown ? hidden_passes + 1 : 0;
            if (!m_unshown) skipped = show_frame() ? 0 : skipped + 1;

            const timespec deadline = deadline_after(frame_start, m_interval);
            const Until until = choose_wait(hidden_passes, m_hidden_batch, skipped);
            if (until == Until::deadline) {
                wait_answering(deadline, until);
                continue;
            }
            wait_answering(until == Until::viewable
                               ? std::optional(deadline_after(frame_start, m_hidden_wait))
                               : std::nullopt,
                           until);
            catch_up(frame_start, deadline);
        }
        return 0;
    }

  private:
    /// Composes the rain's current step and sends it to every viewable target. False when the
    /// display cannot take a frame now: that frame is skipped rather than waited for. Only what
    /// changed since the last frame is sent, the same to every target; the display's events say
    /// when a target needs the whole picture.
    bool show_frame() {
        Display& display = m_state.display;
        const std::span<std::uint8_t> memory = display.frame_memory(m_state.frame.bytes());
        if (memory.empty()) return false;
        // A frame composed is taken for what the targets show, so it is always sent.
        FrameBuffer target(m_state.frame.width(), m_state.frame.height(), memory);
        const std::span<const PixelRect> changed =
            m_state.partial.compose_changed(target, display.memory_index(memory), m_state.rain,
                                            m_state.settings, display.lsb_first());
        for (std::uint32_t id : display.viewable_targets())
            display.send_frame(id, memory, changed);
        display.flush();
        return true;
    }

    /// After a long wait, the steps that fell due since frame_start, so that the rain is where it
    /// would have been; the next pass makes the last of them. When none fell due yet, the rest of
    /// the frame's interval is waited out first.
    void catch_up(const timespec& frame_start, const timespec& deadline) {
        if (m_ended) return;
        const std::uint64_t due = intervals_between(frame_start, m_clock.now(), m_interval_ms);
        if (due == 0) wait_answering(deadline, Until::deadline);
        for (std::uint64_t i = 1; i < due; ++i)
            m_state.rain.step_rain(m_state.settings.density);
    }

    /// Handles the events already read, reading the connection first when read is set (once: a
    /// second read would find the socket empty). Returns how many came; a close request or a
    /// destroyed window ends the run.
    int drain(bool read) {
        using Kind = DisplayEvent::Kind;
        Display& display = m_state.display;
        int count = 0;
        for (DisplayEvent event = display.poll_event(read); event.kind != Kind::none;
             event = display.poll_event(false)) {
            ++count;
            switch (event.kind) {
            case Kind::button_press:
                m_hooks.on_button(event.button);
                break;
            case Kind::close_request:
                if (!m_state.settings.quiet) print_stderr("glyphRain: exiting\n");
                m_ended = true;
                return count;
            case Kind::destroyed:
                m_ended = true;
                return count;
            case Kind::exposed:
                m_state.partial.mark_window_changed();
                break;
            case Kind::memory_lost:
                m_state.partial.mark_all_changed();
                break;
            case Kind::shown_smaller:
                m_state.partial.mark_window_changed();
                if (!m_state.settings.quiet)
                    print_stderr("glyphRain: the dock shows {}x{} of the {}x{} window; set its "
                                 "tile or icon size to {}\n",
                                 event.shown.width, event.shown.height, display.size(),
                                 display.size(), display.size());
                break;
            case Kind::none:
            case Kind::other:
                break;
            }
        }
        return count;
    }

    /// Waits until the deadline (for ever without one) or what until asks for, answering every
    /// event and signal as it comes, and shows the current step again where a reaction calls for
    /// it: a target that turns viewable while the pass's frame went nowhere gets that frame at
    /// once, and a reload's new look shows at once, rather than an interval later.
    void wait_answering(const std::optional<timespec>& deadline, Until until) {
        Display& display = m_state.display;
        for (bool read = false;;) {
            // Events a flush read in passing would not make the socket readable again, so they
            // are taken before every wait.
            const int events = drain(read);
            if (m_ended || (until == Until::event && events > 0)) return;
            const bool viewable = !display.viewable_targets().empty();
            if (until == Until::viewable && viewable) return;
            if (until == Until::deadline && m_unshown && viewable) {
                show_frame();
                m_unshown = false;
            }
            // The rain makes no step for a reload's new look.
            if (m_hooks.take_reloaded() && viewable && !m_unshown) show_frame();
            // Partial data or a reply yields no event, but the read has emptied the socket, so
            // the next wait sleeps again.
            read = false;
            // A full socket is waited on too when it stalled the frames: no event tells that the
            // display reads again.
            const bool writable = until == Until::event && display.output_blocked();
            switch (m_clock.wait_until(deadline, display.event_fd(), writable)) {
            case Wake::deadline:
            case Wake::writable:
                return;
            case Wake::signal:
                m_hooks.on_signal();
                break;
            case Wake::readable:
                read = true;
                break;
            }
        }
    }

    const LoopState& m_state;
    LoopHooks& m_hooks;
    LoopClock& m_clock;
    const std::uint64_t m_interval_ms;
    const timespec m_interval;
    const std::uint64_t m_hidden_batch;
    const timespec m_hidden_wait;
    bool m_unshown = false; // no target was viewable for the current step's frame
    bool m_ended = false;   // a close request or a destroyed window
};

} // namespace

MonotonicClock::MonotonicClock() noexcept {
    const sigset_t watched = watched_signals();
    (void)::sigprocmask(SIG_BLOCK, &watched, &m_previous);
}

MonotonicClock::~MonotonicClock() {
    (void)::sigprocmask(SIG_SETMASK, &m_previous, nullptr);
}

timespec MonotonicClock::now() noexcept {
    timespec point{};
    ::clock_gettime(CLOCK_MONOTONIC, &point);
    return point;
}

Wake MonotonicClock::wait_until(const std::optional<timespec>& deadline, int fd,
                                bool writable) noexcept {
    timespec timeout{};
    if (deadline) {
        const long long left = std::max(ns_between(now(), *deadline), 0LL);
        timeout = {static_cast<time_t>(left / k_ns_per_s), static_cast<long>(left % k_ns_per_s)};
    }
    // The watched signals are let in only here, so one that came since the last wait is
    // delivered now and ends this wait at once.
    sigset_t during = m_previous;
    sigdelset(&during, SIGHUP);
    sigdelset(&during, SIGCHLD);
    pollfd watched{fd, static_cast<short>(POLLIN | (writable ? POLLOUT : 0)), 0};
    const int ready = ::ppoll(&watched, 1, deadline ? &timeout : nullptr, &during);
    if (ready > 0) return (watched.revents & ~POLLOUT) != 0 ? Wake::readable : Wake::writable;
    if (ready < 0 && errno == EINTR) return Wake::signal;
    return Wake::deadline;
}

int run_main_loop(const LoopState& state, LoopHooks& hooks, LoopClock& clock) {
    return Loop(state, hooks, clock).run();
}

int run_main_loop(const LoopState& state, LoopHooks& hooks) {
    MonotonicClock clock;
    return run_main_loop(state, hooks, clock);
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

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// One pass per frame interval on the monotonic clock; between passes one wait on the deadline,
// the X connection and the signals at once, so reactions never wait for the next frame while the
// frames themselves keep their pace.
#include "app/main_loop.hpp"

#include <algorithm>
#include <array>
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
    viewable, // a window to show, or the deadline
    event,    // any event, or the deadline
};

/// One run: the state it works on and what the current pass has done.
class Loop {
  public:
    Loop(const LoopState& state, LoopHooks& hooks, LoopClock& clock)
        : m_state(state), m_hooks(hooks), m_clock(clock),
          m_speed(std::max<std::uint64_t>(state.settings.speed, 1)),
          m_interval(frame_interval(m_speed)),
          m_hidden_batch(std::max<std::uint64_t>(k_hidden_wake_ms / m_speed, 1)),
          m_hidden_wait(frame_interval(m_speed * m_hidden_batch)) {
        state.partial.set_request_cost(k_request_cost_px);
    }

    int run() {
        std::uint64_t hidden_passes = 0;
        int skipped = 0;
        for (;;) {
            const timespec frame_start = m_clock.now();
            // Whatever a flush read in passing since the last wait.
            drain(false);
            if (m_ended) return 0;
            m_hooks.before_step();
            (void)m_hooks.take_reloaded(); // this pass's frame shows any new look

            // The rain keeps falling while nothing is shown, so it goes on where it would have
            // been.
            m_state.rain.step_rain(m_state.settings.density);
            m_unshown = m_state.window.viewable_windows().empty();
            hidden_passes = m_unshown ? hidden_passes + 1 : 0;
            if (!m_unshown) skipped = show_frame() ? 0 : skipped + 1;
            // Nothing drawn: a window that shows again is sent the whole picture.
            if (m_unshown) m_drawn_count = 0;

            // A long wait ends at its own deadline (none for a stall) or when until is met.
            struct LongWait {
                std::optional<timespec> deadline;
                Until until;
            };
            std::optional<LongWait> long_wait;
            if (hidden_passes > m_hidden_batch) {
                // Hidden for a while: one wake-up per batch of frames costs next to nothing.
                long_wait = LongWait{deadline_after(frame_start, m_hidden_wait), Until::viewable};
            } else if (skipped >= k_stalled_frames) {
                // The server has stopped reading its segments; its completion, or any event,
                // says when it works again.
                long_wait = LongWait{std::nullopt, Until::event};
            }
            const timespec deadline = deadline_after(frame_start, m_interval);
            if (!long_wait) {
                wait_between(deadline, Until::deadline);
                if (m_ended) return 0;
                continue;
            }
            wait_between(long_wait->deadline, long_wait->until);
            if (m_ended) return 0;
            const std::uint64_t due = intervals_between(frame_start, m_clock.now(), m_speed);
            if (due == 0) wait_between(deadline, Until::deadline);
            if (m_ended) return 0;
            // The next pass makes the last of them.
            for (std::uint64_t i = 1; i < due; ++i)
                m_state.rain.step_rain(m_state.settings.density);
        }
    }

  private:
    /// Composes the rain's current step and sends it to every viewable window. False when the
    /// server still reads both shared segments: that frame is skipped rather than waited for.
    /// Only what changed since the last frame is sent, the same to every window: after an X
    /// error that gave shared memory up, or for a window that was not sent the last frame, the
    /// whole picture goes again.
    bool show_frame() {
        DockWindow& window = m_state.window;
        PartialCompositor& partial = m_state.partial;
        if (m_shared && !window.shares_memory()) partial.mark_all_changed();
        m_shared = window.shares_memory();
        const std::span<const std::uint32_t> targets = window.viewable_windows();
        if (!std::ranges::equal(targets, std::span(m_drawn.data(), m_drawn_count))) {
            partial.mark_window_changed();
            m_drawn_count = std::min(targets.size(), m_drawn.size());
            std::copy_n(targets.begin(), m_drawn_count, m_drawn.begin());
        }
        const std::span<std::uint8_t> memory = window.frame_memory(m_state.frame.bytes());
        if (memory.empty()) return false;
        // A frame composed is taken for what the windows show, so it is always sent.
        FrameBuffer target(m_state.frame.width(), m_state.frame.height(), memory);
        const std::span<const PixelRect> changed =
            partial.compose_changed(target, window.memory_index(memory), m_state.rain,
                                    m_state.settings, window.lsb_first());
        for (std::uint32_t id : targets)
            window.send_frame(id, memory, changed);
        window.flush();
        return true;
    }

    /// Handles the events already read, reading the connection first when read is set (once: a
    /// second read would find the socket empty). Returns how many came; a close request or a
    /// destroyed window ends the run.
    int drain(bool read) {
        int count = 0;
        for (DockEvent event = m_state.window.poll_event(read); event.kind != DockEvent::Kind::none;
             event = m_state.window.poll_event(false)) {
            ++count;
            switch (event.kind) {
            case DockEvent::Kind::button_press:
                m_hooks.on_button(event.button);
                break;
            case DockEvent::Kind::close_request:
                if (!m_state.settings.quiet) print_stderr("glyphRain: exiting\n");
                m_ended = true;
                return count;
            case DockEvent::Kind::destroyed:
                m_ended = true;
                return count;
            case DockEvent::Kind::exposed:
                m_state.partial.mark_window_changed();
                break;
            case DockEvent::Kind::shown_smaller:
                m_state.partial.mark_window_changed();
                if (!m_state.settings.quiet)
                    print_stderr("glyphRain: the dock shows {}x{} of the {}x{} window; set its "
                                 "tile or icon size to {}\n",
                                 event.shown.width, event.shown.height, m_state.window.size(),
                                 m_state.window.size(), m_state.window.size());
                break;
            case DockEvent::Kind::none:
            case DockEvent::Kind::other:
                break;
            }
        }
        return count;
    }

    /// Waits until the deadline (for ever without one) or what until asks for, answering every
    /// event and signal as it comes. A window that turns viewable while the pass's frame went
    /// nowhere gets that frame at once, rather than the next one an interval later.
    void wait_between(const std::optional<timespec>& deadline, Until until) {
        for (bool read = false;;) {
            // Events a flush read in passing would not make the socket readable again, so they
            // are taken before every wait.
            const int events = drain(read);
            if (m_ended || (until == Until::event && events > 0)) return;
            const bool viewable = !m_state.window.viewable_windows().empty();
            if (until == Until::viewable && viewable) return;
            if (until == Until::deadline && m_unshown && viewable) {
                show_frame();
                m_unshown = false;
            }
            // A reload's new colours show at once, not an interval later; the rain makes no step.
            if (m_hooks.take_reloaded() && viewable && !m_unshown) show_frame();
            // Partial data or a reply yields no event, but the read has emptied the socket, so
            // the next wait sleeps again.
            read = false;
            // A full socket is waited on too when it stalled the frames: no event tells that the
            // server reads again.
            const bool writable = until == Until::event && m_state.window.output_blocked();
            switch (m_clock.wait_until(deadline, m_state.window.event_fd(), writable)) {
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
    const std::uint64_t m_speed;
    const timespec m_interval;
    const std::uint64_t m_hidden_batch;
    const timespec m_hidden_wait;
    bool m_unshown = false;                 // no window was viewable for the current step's frame
    bool m_ended = false;                   // a close request or a destroyed window
    bool m_shared = false;                  // the last frame went through shared memory
    std::array<std::uint32_t, 2> m_drawn{}; // the windows the last frame went to
    std::size_t m_drawn_count = 0;
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

// SPDX-License-Identifier: MIT
// The one writer of standard error. A line goes whole or not at all and is never waited for:
// standard error may be a pipe that nobody reads, and a blocked write would stop the animation.
#include "system/print.hpp"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace glyphrain {
namespace {

/// Writes as much of text as fd takes now, retrying only EINTR.
void write_what_fits(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n > 0)
            text.remove_prefix(static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // full, gone or failed: nobody can be told that telling failed
    }
}

/// How long a write on standard error's own blocking description may wait before it is cut short.
constexpr long k_blocking_write_ns = 5'000'000;

extern "C" void on_write_timer(int) {
    // Nothing to do: the signal's arrival alone ends the waiting write with EINTR.
}

/// One write on a blocking descriptor, cut short by k_write_timer_signal when it waits longer than
/// k_blocking_write_ns; what it did not take is dropped. The timer repeats, so a tick that comes
/// before the write has begun cannot leave the write waiting. Set up and removed per call: the
/// path is rare, and the program's own disposition and mask must be as they were.
void write_with_deadline(int fd, std::string_view text) noexcept {
    struct sigaction interrupt {};
    interrupt.sa_handler = on_write_timer; // without SA_RESTART, so the write returns
    sigemptyset(&interrupt.sa_mask);
    struct sigaction previous {};
    if (::sigaction(k_write_timer_signal, &interrupt, &previous) != 0) return;
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = k_write_timer_signal;
    timer_t timer{};
    if (::timer_create(CLOCK_MONOTONIC, &event, &timer) == 0) {
        sigset_t timer_signal, mask;
        sigemptyset(&timer_signal);
        sigaddset(&timer_signal, k_write_timer_signal);
        ::sigprocmask(SIG_UNBLOCK, &timer_signal, &mask);
        const itimerspec ticks{{0, k_blocking_write_ns}, {0, k_blocking_write_ns}};
        if (::timer_settime(timer, 0, &ticks, nullptr) == 0) {
            // What the write has not taken when it returns is dropped, not retried.
            [[maybe_unused]] const ssize_t taken = ::write(fd, text.data(), text.size());
        }
        ::timer_delete(timer);
        ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    }
    ::sigaction(k_write_timer_signal, &previous, nullptr);
}

/// Whether a pipe surely holds bytes more: each of its page-sized slots may be partly used at
/// both ends of what is queued, so two pages are kept in reserve.
bool pipe_has_room(int fd, std::size_t bytes) noexcept {
    int queued = 0;
    const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
    const long page = ::sysconf(_SC_PAGESIZE);
    if (::ioctl(fd, FIONREAD, &queued) != 0 || capacity < 0 || page < 0) return false;
    return static_cast<std::size_t>(queued) + bytes + 2 * static_cast<std::size_t>(page) <=
           static_cast<std::size_t>(capacity);
}

/// A pipe, terminal or device: written through a file description of its own, opened anew with
/// O_NONBLOCK, because the one behind fd is shared with the shell or launcher and must stay as it
/// is. A line of at most PIPE_BUF bytes then goes to a pipe whole or not at all; a longer one is
/// only tried when the pipe has room for all of it.
void write_to_stream(int fd, const struct stat& status, std::string_view text) noexcept {
    const bool pipe = S_ISFIFO(status.st_mode);
    if (pipe && text.size() > PIPE_BUF && !pipe_has_room(fd, text.size())) return;
    char own_path[32];
    std::snprintf(own_path, sizeof own_path, "/proc/self/fd/%d", fd);
    const int own = ::open(own_path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own >= 0) {
        write_what_fits(own, text);
        ::close(own);
        return;
    }
    if (errno == ENXIO) return; // a pipe without a reader
    // Without /proc, or on another user's terminal: a pipe that reports room for PIPE_BUF bytes
    // takes a line that size at once, but a terminal reporting room may have less than the line.
    pollfd ready{fd, POLLOUT, 0};
    if (text.size() <= PIPE_BUF && ::poll(&ready, 1, 0) == 1 && (ready.revents & POLLOUT))
        write_with_deadline(fd, text);
}

/// A socket (a journal's stream, say) takes MSG_DONTWAIT per call, leaving its flags alone.
void write_to_socket(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        ssize_t n = ::send(fd, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
            text.remove_prefix(static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
}

} // namespace

void write_stderr(std::string_view text) noexcept {
    const int saved_errno = errno;
    struct stat status {};
    if (::fstat(STDERR_FILENO, &status) == 0) {
        if (S_ISSOCK(status.st_mode))
            write_to_socket(STDERR_FILENO, text);
        else if (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode))
            write_what_fits(STDERR_FILENO, text); // a file waits for no reader
        else
            write_to_stream(STDERR_FILENO, status, text);
    }
    errno = saved_errno;
}

} // namespace glyphrain

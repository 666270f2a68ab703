// SPDX-License-Identifier: MIT
// fork/setsid for --background and lock-free flags for SIGHUP and SIGCHLD.
#include "app/background.hpp"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "system/print.hpp"

namespace glyphrain {
namespace {

// The only global mutable state: written by the signal handlers, taken by the loop.
std::atomic<bool> g_reload_requested{false};
std::atomic<bool> g_child_ended{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void on_sighup(int) {
    g_reload_requested.exchange(true);
}

extern "C" void on_sigchld(int) {
    g_child_ended.exchange(true);
}

} // namespace

void detach_to_background(const Settings& settings) {
    pid_t pid = ::fork();
    if (pid < 0) {
        print_stderr("glyphRain: fork failed\n");
        std::exit(1);
    }
    if (pid > 0) {
        if (!settings.quiet) print_stderr("glyphRain: backgrounded (pid {})\n", pid);
        std::exit(0);
    }
    // Leave the terminal's session so its hang-up does not reach us; the result does not matter.
    (void)::setsid();
}

void install_reload_handler() noexcept {
    std::signal(SIGHUP, on_sighup);
}

bool take_reload_request() noexcept {
    return g_reload_requested.exchange(false);
}

void install_child_handler() noexcept {
    // At its default action SIGCHLD is discarded without ending the loop's wait.
    std::signal(SIGCHLD, on_sigchld);
}

bool take_child_ended() noexcept {
    return g_child_ended.exchange(false);
}

} // namespace glyphrain

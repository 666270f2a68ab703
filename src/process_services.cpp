// SPDX-License-Identifier: MIT
// fork/setsid for --background, a lock-free flag for SIGHUP, and sh -c for click commands.
#include "process_services.hpp"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "system/print.hpp"
#include "system/process.hpp"

namespace glyphrain {
namespace {

// The one piece of global mutable state: written by the SIGHUP handler, taken by the loop.
std::atomic<bool> g_reload_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void on_sighup(int) {
    g_reload_requested.exchange(true);
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

void run_click_command(const std::optional<std::string>& command) noexcept {
    if (!command || command->empty()) return;
    try {
        (void)spawn_detached({"sh", "-c", *command});
    } catch (...) {
        // Only allocation can throw here; a click that cannot start is dropped like a failed spawn.
    }
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Program entry: process-wide set-up, help, option check, the choice between save and run mode,
// and the one place where an error becomes the "Error: {}" line.
#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

#include "app/command_line.hpp"
#include "app/run_mode.hpp"
#include "app/save_mode.hpp"
#include "system/error.hpp"
#include "system/print.hpp"

namespace {

/// Opens /dev/null on each closed standard descriptor so later files never take those numbers.
void ensure_standard_descriptors() noexcept {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            int opened = ::open("/dev/null", O_RDWR);
            if (opened >= 0 && opened != fd) ::close(opened);
        }
    }
}

/// Lets in the signals the program relies on: the mask outlives exec, so a launcher that blocked
/// SIGTERM or SIGINT would leave the program deaf to the usual way of ending it, one that blocked
/// SIGHUP or SIGCHLD would leave reloads and click children waiting, and the timer signal cuts
/// short a write to a stalled terminal.
void unblock_relied_on_signals() noexcept {
    sigset_t relied_on;
    sigemptyset(&relied_on);
    for (int number : {SIGTERM, SIGINT, SIGHUP, SIGCHLD, glyphrain::k_write_timer_signal})
        sigaddset(&relied_on, number);
    (void)::sigprocmask(SIG_UNBLOCK, &relied_on, nullptr);
}

/// The program's own messages are shown quoted, with quotes, backslashes and line breaks escaped
/// so that the error stays one line.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

/// The one line ever written to standard output; a failed write is an error, not a success.
void print_version() {
    fmt::print(stdout, "glyphRain {}\n", GLYPHRAIN_VERSION);
    if (std::fflush(stdout) != 0) throw glyphrain::SystemError(errno);
}

/// The last-resort "Error: {}" line; it cannot throw, so a broken standard error cannot turn the
/// error into an abort.
void report_error(const std::exception& error) noexcept {
    try {
        if (dynamic_cast<const glyphrain::AppError*>(&error) != nullptr)
            glyphrain::print_stderr("Error: {}\n", quoted(error.what()));
        else
            glyphrain::print_stderr("Error: {}\n", error.what());
    } catch (...) {
        // Quoting ran out of memory: the exit status still tells the failure.
    }
}

int run_program(const glyphrain::ArgList& args) {
    using namespace glyphrain;
    if (has_arg(args, "--help")) {
        print_stderr("{}", help_text());
        return 0;
    }
    if (auto unknown = find_unknown_option(args)) {
        print_stderr("glyphRain: unknown option '{}'\n", *unknown);
        print_stderr("Try 'glyphRain --help' for usage information.\n");
        return 1;
    }
    // After the option check, so a typo beside --version is still reported; before any mode, so
    // nothing is read or written.
    if (has_arg(args, "--version")) {
        print_version();
        return 0;
    }
    if (has_arg(args, "--write-config") || has_arg(args, "--configure")) return run_save_mode(args);
    return run_animation(args);
}

} // namespace

int main(int argc, char** argv) {
    ensure_standard_descriptors();
    // A write to a closed pipe or socket must fail with an error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    unblock_relied_on_signals();
    // An ignored SIGCHLD, inherited like the mask, makes children reap themselves, and waiting for
    // fc-match's exit status would then fail and lose its answer.
    std::signal(SIGCHLD, SIG_DFL);
    glyphrain::ArgList args(argv, argv + argc);
    try {
        return run_program(args);
    } catch (const std::exception& e) {
        report_error(e);
    }
    return 1;
}

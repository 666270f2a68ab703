// SPDX-License-Identifier: MIT
// fork/exec runner with captured output for process-level tests.
#include "support/process_runner.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace glyphrain::test {

std::string glyphrain_binary() {
#ifdef GLYPHRAIN_BINARY
    return GLYPHRAIN_BINARY;
#else
    return "glyphRain";
#endif
}

ProcessResult run_process(const std::string& program, const ProcessOptions& options) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) || ::pipe2(out_pipe, O_CLOEXEC) || ::pipe2(err_pipe, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    std::vector<std::string> argv_store{program};
    argv_store.insert(argv_store.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (auto& a : argv_store)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(in_pipe[0], 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        if (!options.input && !options.signal_on_err) ::close(0);
        sigset_t blocked;
        sigemptyset(&blocked);
        for (int number : options.blocked_signals)
            sigaddset(&blocked, number);
        ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
        for (const auto& [name, value] : options.env) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
        ::signal(SIGPIPE, SIG_DFL);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    int in_fd = in_pipe[1];
    std::string input = options.input.value_or("");
    std::size_t written = 0;
    int held_fd = -1; // standard input with nothing to write, open until the child ends
    if (input.empty()) {
        if (options.signal_on_err)
            held_fd = in_fd;
        else
            ::close(in_fd);
        in_fd = -1;
    } else {
        ::fcntl(in_fd, F_SETFL, O_NONBLOCK);
    }

    ProcessResult result;
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeout_ms);
    int out_fd = out_pipe[0], err_fd = err_pipe[0];
    bool signalled = false;
    char buf[8192];
    while (out_fd >= 0 || err_fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            result.timed_out = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
        if (::poll(fds, 3, static_cast<int>(left)) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
                if (i == 1 && options.signal_on_err && !signalled &&
                    result.err.find(options.signal_on_err->first) != std::string::npos)
                    signalled = ::kill(pid, options.signal_on_err->second) == 0;
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                (i == 0 ? out_fd : err_fd) = -1;
            }
        }
        if (in_fd >= 0 && fds[2].revents) {
            ssize_t n = ::write(in_fd, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n < 0 || written == input.size()) {
                ::close(in_fd);
                in_fd = -1;
            }
        }
    }
    for (int fd : {in_fd, held_fd, out_fd, err_fd})
        if (fd >= 0) ::close(fd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace glyphrain::test

// SPDX-License-Identifier: MIT
// posix_spawn-based child processes; no shell is ever involved unless the caller names one.
#include "system/process.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "system/unique_fd.hpp"

extern char** environ;

namespace glyphrain {
namespace {

/// RAII for the two posix_spawn attribute objects. The child starts with every signal at its
/// default action and none blocked: ignored dispositions and the mask survive exec, and the
/// parent ignores SIGPIPE itself and may have been started with SIGINT and SIGQUIT ignored (as
/// `glyphRain &` from a script does).
class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawnattr_init(&m_attr);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigdefault(&m_attr, &all);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&m_attr, &none);
        posix_spawnattr_setflags(&m_attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t* actions() { return &m_actions; }

    std::optional<pid_t> spawn(const std::vector<std::string>& argv) {
        if (argv.empty()) return std::nullopt;
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawnp(&pid, args[0], &m_actions, &m_attr, args.data(), environ) != 0)
            return std::nullopt;
        return pid;
    }

  private:
    posix_spawn_file_actions_t m_actions{};
    posix_spawnattr_t m_attr{};
};

bool make_pipe(UniqueFd& read_end, UniqueFd& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
    return true;
}

} // namespace

std::optional<std::string> run_and_capture(const std::vector<std::string>& argv) {
    UniqueFd out_r, out_w, err_r, err_w;
    if (!make_pipe(out_r, out_w) || !make_pipe(err_r, err_w)) return std::nullopt;

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(setup.actions(), out_w.get(), 1);
    posix_spawn_file_actions_adddup2(setup.actions(), err_w.get(), 2);
    std::optional<pid_t> pid = setup.spawn(argv);
    out_w.reset();
    err_w.reset();
    if (!pid) return std::nullopt;

    // Drain both pipes together so a chatty standard error cannot stall the child.
    std::string out;
    std::array<pollfd, 2> fds{{{out_r.get(), POLLIN, 0}, {err_r.get(), POLLIN, 0}}};
    char chunk[4096];
    int open_pipes = 2;
    while (open_pipes > 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                fds[i].fd = -1;
                --open_pipes;
            } else if (i == 0) {
                out.append(chunk, static_cast<std::size_t>(n));
            }
        }
    }
    out_r.reset();
    err_r.reset();

    int status = 0;
    while (::waitpid(*pid, &status, 0) < 0) {
        if (errno != EINTR) return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return out;
}

std::optional<pid_t> spawn_detached(const std::vector<std::string>& argv) {
    SpawnSetup setup;
    return setup.spawn(argv);
}

int reap_finished_children() noexcept {
    int reaped = 0;
    int status = 0;
    while (::waitpid(-1, &status, WNOHANG) > 0)
        ++reaped;
    return reaped;
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Xvfb start-up by trying free display numbers, and pid-based process control for X tests.
#include "support/xvfb.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <xcb/xcb.h>

#include "support/temp_dir.hpp"

namespace glyphrain::test {
namespace {

using namespace std::chrono_literals;

bool path_exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

/// The pid written in an X server's lock file, or -1.
pid_t lock_owner(int number) {
    std::ifstream in("/tmp/.X" + std::to_string(number) + "-lock");
    long pid = -1;
    if (!(in >> pid)) return -1;
    return static_cast<pid_t>(pid);
}

bool accepts_connections(const std::string& display) {
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    bool ok = xcb_connection_has_error(c) == 0;
    xcb_disconnect(c);
    return ok;
}

std::string log_dir() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

} // namespace

pid_t spawn_logged(const std::string& program, const std::vector<std::string>& args,
                   const std::map<std::string, std::optional<std::string>>& env,
                   const std::string& out_path, const std::string& err_path) {
    std::vector<std::string> store{program};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        for (const auto& [name, value] : env) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        ::signal(SIGPIPE, SIG_DFL);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

std::optional<int> wait_for_exit(pid_t pid, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return 128 + WTERMSIG(status);
        }
        if (r < 0 && errno != EINTR) return -1; // not our child any more
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
}

void stop_process(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    if (wait_for_exit(pid, 3000)) return;
    ::kill(pid, SIGKILL);
    (void)wait_for_exit(pid, 10000);
}

XvfbServer::XvfbServer(const std::string& screen, const std::vector<std::string>& extra_args) {
    // Start away from the usual numbers, spread by pid so parallel tests rarely collide.
    const int base = 300 + static_cast<int>(::getpid() % 500);
    for (int attempt = 0; attempt < 40; ++attempt) {
        const int number = base + attempt * 7;
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        if (path_exists(socket) || path_exists(lock)) continue;

        const std::string display = std::string(":").append(std::to_string(number));
        m_log = log_dir() + "/glyphrain-xvfb-" + std::to_string(number) + ".log";
        std::vector<std::string> args{display,   "-nolisten", "tcp", "-noreset",
                                      "-screen", "0",         screen};
        args.insert(args.end(), extra_args.begin(), extra_args.end());
        pid_t pid = spawn_logged("Xvfb", args, {}, "/dev/null", m_log);
        auto deadline = std::chrono::steady_clock::now() + 15s;
        bool lost = false;
        // Ready when this very server owns the lock and answers; another one may have won the
        // number between the check above and the start.
        while (std::chrono::steady_clock::now() < deadline) {
            if (wait_for_exit(pid, 0)) {
                lost = true;
                break;
            }
            if (lock_owner(number) == pid && path_exists(socket) && accepts_connections(display)) {
                m_pid = pid;
                m_display = display;
                ::unlink(m_log.c_str());
                return;
            }
            std::this_thread::sleep_for(20ms);
        }
        if (!lost) stop_process(pid);
        ::unlink(m_log.c_str());
    }
    throw std::runtime_error("could not start Xvfb on a free display");
}

XvfbServer::~XvfbServer() {
    stop_process(m_pid);
}

void XvfbServer::kill_now() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    (void)wait_for_exit(m_pid, 10000);
    // A killed server cannot remove its lock and socket; do it so no stale display is left.
    const std::string number = m_display.substr(1);
    if (lock_owner(std::stoi(number)) == m_pid) {
        ::unlink(("/tmp/.X11-unix/X" + number).c_str());
        ::unlink(("/tmp/.X" + number + "-lock").c_str());
    }
    m_pid = -1;
}

BackgroundProcess::BackgroundProcess(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::map<std::string, std::optional<std::string>>& env,
                                     const std::string& dir, const std::string& err_path) {
    // Several processes may share one directory; each gets its own pair of files.
    static int counter = 0;
    ++counter;
    m_out_path = dir + "/stdout-" + std::to_string(counter) + ".log";
    m_err_path = err_path.empty() ? dir + "/stderr-" + std::to_string(counter) + ".log" : err_path;
    m_pid = spawn_logged(program, args, env, m_out_path, m_err_path);
}

BackgroundProcess::~BackgroundProcess() {
    stop();
}

std::string BackgroundProcess::out() const {
    return read_file(m_out_path);
}
std::string BackgroundProcess::err() const {
    return read_file(m_err_path);
}

bool BackgroundProcess::wait_for_err(const std::string& text, int timeout_ms) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (err().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(10ms);
    }
    return err().find(text) != std::string::npos;
}

std::optional<int> BackgroundProcess::wait_exit(int timeout_ms) {
    if (!m_status && m_pid > 0) {
        m_status = wait_for_exit(m_pid, timeout_ms);
        if (m_status) m_pid = -1;
    }
    return m_status;
}

void BackgroundProcess::stop() {
    if (m_pid > 0) stop_process(m_pid);
    m_pid = -1;
}

std::map<std::string, std::optional<std::string>> app_env(const std::string& display,
                                                          const std::string& home_dir) {
    return {{"DISPLAY", display},
            {"HOME", home_dir},
            {"XDG_CONFIG_HOME", home_dir + "/config"},
            {"XAUTHORITY", std::nullopt},
            // Run from a Wayland session, the program would otherwise choose the compositor.
            {"WAYLAND_DISPLAY", std::nullopt},
            {"GLYPHRAIN_BACKEND", std::nullopt}};
}

} // namespace glyphrain::test

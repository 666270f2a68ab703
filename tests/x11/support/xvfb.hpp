// SPDX-License-Identifier: MIT
// A private Xvfb server on a free display number, and glyphRain or fluxbox started beside it;
// every process here is stopped by its pid when its owner goes.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace glyphrain::test {

/// Starts program with args, standard input on /dev/null and standard output and error appended
/// to the given files; env entries are set in the child. Throws when fork fails.
pid_t spawn_logged(const std::string& program, const std::vector<std::string>& args,
                   const std::map<std::string, std::optional<std::string>>& env,
                   const std::string& out_path, const std::string& err_path);

/// Waits up to timeout_ms for pid to end; its exit status (128 + signal) or nothing.
std::optional<int> wait_for_exit(pid_t pid, int timeout_ms);

/// SIGTERM, then SIGKILL after a grace period; always reaps the child.
void stop_process(pid_t pid);

class XvfbServer {
  public:
    /// screen is Xvfb's "WxHxD"; extra_args follow the usual ones (e.g. "-listen", "tcp").
    /// Throws when no server comes up within a few seconds.
    explicit XvfbServer(const std::string& screen = "1280x1024x24",
                        const std::vector<std::string>& extra_args = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    /// ":N"
    const std::string& display() const noexcept { return m_display; }
    pid_t pid() const noexcept { return m_pid; }
    /// Ends the server at once (SIGKILL), as a crash would.
    void kill_now();

  private:
    std::string m_display;
    std::string m_log;
    pid_t m_pid = -1;
};

/// A background process (glyphRain or a window manager) with its output kept in files.
class BackgroundProcess {
  public:
    /// err_path, when given, replaces the standard error log (a terminal, say); err() and
    /// wait_for_err() must not be used then.
    BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::optional<std::string>>& env,
                      const std::string& log_dir, const std::string& err_path = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    pid_t pid() const noexcept { return m_pid; }
    std::string out() const;
    std::string err() const;
    /// True once the standard error holds text, false after timeout_ms.
    bool wait_for_err(const std::string& text, int timeout_ms) const;
    /// The exit status once the process has ended, nothing after timeout_ms.
    std::optional<int> wait_exit(int timeout_ms);
    void stop();

  private:
    std::string m_out_path;
    std::string m_err_path;
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

/// glyphRain on display with a temporary HOME and XDG_CONFIG_HOME under home_dir.
std::map<std::string, std::optional<std::string>> app_env(const std::string& display,
                                                          const std::string& home_dir);

} // namespace glyphrain::test

// SPDX-License-Identifier: MIT
// Standard error that nobody reads: a line is dropped, never waited for, and otherwise arrives
// whole, on pipes and sockets alike, without touching the descriptor's shared flags; on a
// terminal that cannot be reopened every write still returns.
#include "system/print.hpp"

#include <algorithm>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <ostream>
#include <pty.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

enum class Channel { pipe, socket };

void PrintTo(Channel channel, std::ostream* os) {
    *os << (channel == Channel::pipe ? "pipe" : "socket");
}

/// Standard error on a pipe or socket whose reading end the test holds, for the life of the
/// fixture. Every test runs under an alarm: a write that waits ends the test run with SIGALRM
/// instead of hanging it.
class StderrNobodyReads : public ::testing::TestWithParam<Channel> {
  protected:
    void SetUp() override {
        int ends[2];
        if (GetParam() == Channel::pipe)
            ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        else
            ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        m_read = ends[0];
        m_write = ends[1];
        ASSERT_EQ(::fcntl(m_read, F_SETFL, O_NONBLOCK), 0);
        m_saved_stderr = ::dup(STDERR_FILENO);
        ASSERT_GE(m_saved_stderr, 0);
        ASSERT_EQ(::dup2(m_write, STDERR_FILENO), STDERR_FILENO);
        // As in the program, a closed reader is an error to writes, not the end of the process.
        m_old_sigpipe = std::signal(SIGPIPE, SIG_IGN);
        ::alarm(20);
    }
    void TearDown() override {
        ::alarm(0);
        std::signal(SIGPIPE, m_old_sigpipe);
        ::dup2(m_saved_stderr, STDERR_FILENO);
        for (int fd : {m_saved_stderr, m_read, m_write})
            ::close(fd);
    }

    /// Fills the channel to the brim through a description of its own, so that standard error's
    /// stays blocking as it was.
    void fill() {
        const std::string chunk(4096, 'x');
        if (GetParam() == Channel::socket) {
            while (::send(m_write, chunk.data(), chunk.size(), MSG_DONTWAIT) > 0) {
            }
            while (::send(m_write, chunk.data(), 1, MSG_DONTWAIT) > 0) {
            }
            return;
        }
        const std::string own = "/proc/self/fd/" + std::to_string(m_write);
        int fd = ::open(own.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        while (::write(fd, chunk.data(), chunk.size()) > 0) {
        }
        while (::write(fd, chunk.data(), 1) > 0) {
        }
        ::close(fd);
    }

    /// Everything queued, without waiting.
    std::string drain() {
        std::string out;
        char buffer[65536];
        for (ssize_t n; (n = ::read(m_read, buffer, sizeof buffer)) > 0;)
            out.append(buffer, static_cast<std::size_t>(n));
        return out;
    }

    int m_read = -1;
    int m_write = -1;
    int m_saved_stderr = -1;
    void (*m_old_sigpipe)(int) = SIG_DFL;
};

TEST_P(StderrNobodyReads, FullChannelDropsTheLineAndLaterLinesArriveWhole) {
    fill();
    write_stderr("glyphRain: config reloaded (SIGHUP)\n"); // returns at once, or SIGALRM
    EXPECT_EQ(::fcntl(STDERR_FILENO, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(drain().find_first_not_of('x'), std::string::npos);

    const std::string long_line = std::string(2 * PIPE_BUF, 'a') + "\n";
    write_stderr("glyphRain: config reloaded\n");
    write_stderr(long_line);
    EXPECT_EQ(drain(), "glyphRain: config reloaded\n" + long_line);

    // A line longer than the atomic unit is all or nothing too when there is less room than it
    // needs.
    fill();
    std::string room(PIPE_BUF, '\0');
    ASSERT_GT(::read(m_read, room.data(), room.size()), 0);
    write_stderr(long_line);
    const std::string after = drain();
    const std::string line = after.substr(std::min(after.find_first_not_of('x'), after.size()));
    EXPECT_TRUE(line.empty() || line == long_line) << line.size() << " bytes of the line";
}

TEST_P(StderrNobodyReads, ClosedReaderDropsTheLine) {
    ::close(m_read);
    m_read = -1;
    write_stderr("glyphRain: exiting\n");
    EXPECT_EQ(::fcntl(STDERR_FILENO, F_GETFL) & O_NONBLOCK, 0);
}

INSTANTIATE_TEST_SUITE_P(Channels, StderrNobodyReads,
                         ::testing::Values(Channel::pipe, Channel::socket),
                         [](const ::testing::TestParamInfo<Channel>& param) {
                             return std::string(param.param == Channel::pipe ? "Pipe" : "Socket");
                         });

// Another user's terminal (the program started under su) cannot be reopened non-blocking; when its
// reader stops, lines far beyond the terminal's buffer must still each return.
TEST(StderrOnTerminal, UnreopenableTerminalThatNobodyReadsNeverWaits) {
    if (::geteuid() != 0) GTEST_SKIP() << "writing as another user needs root";
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::fchmod(slave, 0600), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);
        if (::dup2(slave, STDERR_FILENO) < 0 || ::setgroups(0, nullptr) != 0 ||
            ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        for (int i = 0; i < 2000; ++i)
            write_stderr("glyphRain: failed to write config /home/user/.config/glyphRain/config\n");
        ::_exit(0);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    ::close(master);
    ::close(slave);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

} // namespace
} // namespace glyphrain

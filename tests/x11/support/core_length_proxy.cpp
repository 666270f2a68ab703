// SPDX-License-Identifier: MIT
// The BIG-REQUESTS-hiding relay: parses both byte streams just enough to find request and reply
// boundaries, and clears the "present" byte of the one reply that matters.
#include "support/core_length_proxy.hpp"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "support/xvfb.hpp"

namespace glyphrain::test {
namespace {

constexpr std::uint8_t k_query_extension = 98;
constexpr char k_big_requests[] = "BIG-REQUESTS";

std::size_t pad4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

/// A Unix stream socket address; abstract (Linux) when the path starts with a NUL byte.
socklen_t unix_address(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
}

int listen_on(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un address;
    const socklen_t length = unix_address(path, address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int connect_to(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un address;
    const socklen_t length = unix_address(path, address);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

/// One relayed connection. Whole requests and whole server packets are passed on as soon as
/// they are complete.
struct Session {
    int client = -1;
    int server = -1;
    std::vector<std::uint8_t> from_client, from_server;
    bool little = true;         // the client's byte order
    bool client_set_up = false; // the connection set-up request has passed
    bool server_set_up = false; // the connection set-up reply has passed
    std::uint16_t sequence = 0; // of the last request passed
    std::optional<std::uint16_t> big_requests_query;

    std::uint32_t read16(const std::vector<std::uint8_t>& b, std::size_t at) const {
        return little ? b[at] | b[at + 1] << 8 : b[at] << 8 | b[at + 1];
    }
    std::uint32_t read32(const std::vector<std::uint8_t>& b, std::size_t at) const {
        return little ? read16(b, at) | read16(b, at + 2) << 16
                      : read16(b, at) << 16 | read16(b, at + 2);
    }

    /// Length of the first whole request in from_client, 0 when incomplete.
    std::size_t next_request() {
        std::vector<std::uint8_t>& b = from_client;
        if (!client_set_up) {
            if (b.size() < 12) return 0;
            little = b[0] == 'l';
            const std::size_t n = 12 + pad4(read16(b, 6)) + pad4(read16(b, 8));
            return b.size() >= n ? n : 0;
        }
        if (b.size() < 4) return 0;
        std::size_t n = read16(b, 2) * std::size_t{4};
        if (n == 0) {
            if (b.size() < 8) return 0;
            n = read32(b, 4) * std::size_t{4};
        }
        return b.size() >= n ? n : 0;
    }

    /// Length of the first whole packet in from_server, 0 when incomplete.
    std::size_t next_packet() {
        std::vector<std::uint8_t>& b = from_server;
        if (!server_set_up) {
            if (b.size() < 8) return 0;
            const std::size_t n = 8 + read16(b, 6) * std::size_t{4};
            return b.size() >= n ? n : 0;
        }
        if (b.size() < 32) return 0;
        std::size_t n = 32;
        // Replies and generic events carry more than 32 bytes.
        if (b[0] == 1 || (b[0] & 0x7f) == 35) n += read32(b, 4) * std::size_t{4};
        return b.size() >= n ? n : 0;
    }

    bool pass_requests() {
        while (std::size_t n = next_request()) {
            if (!client_set_up) {
                client_set_up = true;
            } else {
                ++sequence;
                const std::uint32_t name_length = n >= 8 ? read16(from_client, 4) : 0;
                if (from_client[0] == k_query_extension && 8 + name_length <= n &&
                    std::string_view(reinterpret_cast<const char*>(&from_client[8]), name_length) ==
                        k_big_requests)
                    big_requests_query = sequence;
            }
            if (!write_all(server, from_client.data(), n)) return false;
            from_client.erase(from_client.begin(), from_client.begin() + static_cast<long>(n));
        }
        return true;
    }

    bool pass_packets() {
        while (std::size_t n = next_packet()) {
            if (!server_set_up) {
                server_set_up = true;
            } else if (from_server[0] == 1 && big_requests_query &&
                       read16(from_server, 2) == *big_requests_query) {
                from_server[8] = 0; // QueryExtension reply: present = false
            }
            if (!write_all(client, from_server.data(), n)) return false;
            from_server.erase(from_server.begin(), from_server.begin() + static_cast<long>(n));
        }
        return true;
    }
};

bool read_into(int fd, std::vector<std::uint8_t>& buffer) {
    std::uint8_t chunk[65536];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return n < 0 && errno == EINTR;
    buffer.insert(buffer.end(), chunk, chunk + n);
    return true;
}

[[noreturn]] void relay(std::vector<int> listeners, const std::string& server_socket) {
    std::vector<Session> sessions;
    for (;;) {
        std::vector<pollfd> fds;
        for (int l : listeners)
            fds.push_back({l, POLLIN, 0});
        for (const Session& s : sessions) {
            fds.push_back({s.client, POLLIN, 0});
            fds.push_back({s.server, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            ::_exit(1);
        }
        for (std::size_t i = 0; i < listeners.size(); ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            const int client = ::accept4(listeners[i], nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            const int server = connect_to(server_socket);
            if (server < 0) {
                ::close(client);
                continue;
            }
            Session s;
            s.client = client;
            s.server = server;
            sessions.push_back(std::move(s));
        }
        for (std::size_t k = 0; k < sessions.size() && listeners.size() + 2 * k < fds.size(); ++k) {
            Session& s = sessions[k];
            const pollfd& from_client = fds[listeners.size() + 2 * k];
            const pollfd& from_server = fds[listeners.size() + 2 * k + 1];
            bool ok = true;
            if (from_client.revents) ok = read_into(s.client, s.from_client) && s.pass_requests();
            if (ok && from_server.revents)
                ok = read_into(s.server, s.from_server) && s.pass_packets();
            if (!ok) {
                ::close(s.client);
                ::close(s.server);
                s.client = s.server = -1;
            }
        }
        std::erase_if(sessions, [](const Session& s) { return s.client < 0; });
    }
}

} // namespace

CoreLengthProxy::CoreLengthProxy(const std::string& server_display) {
    const std::string server_socket = "/tmp/.X11-unix/X" + server_display.substr(1);
    const int base = 700 + static_cast<int>(::getpid() % 200);
    std::vector<int> listeners;
    for (int attempt = 0; attempt < 40 && listeners.empty(); ++attempt) {
        const int number = base + attempt * 11;
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        if (::access(path.c_str(), F_OK) == 0 ||
            ::access(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), F_OK) == 0)
            continue;
        // The abstract name, which libxcb tries first, claims the number atomically.
        const int abstract = listen_on(std::string(1, '\0') + path);
        if (abstract < 0) continue;
        const int file = listen_on(path);
        if (file < 0) {
            ::close(abstract);
            continue;
        }
        listeners = {abstract, file};
        m_display = std::string(":").append(std::to_string(number));
        m_socket_path = path;
    }
    if (listeners.empty()) throw std::runtime_error("no free display number for the proxy");
    m_pid = ::fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        ::signal(SIGPIPE, SIG_IGN);
        relay(listeners, server_socket);
    }
    for (int l : listeners)
        ::close(l);
}

CoreLengthProxy::~CoreLengthProxy() {
    stop_process(m_pid);
    ::unlink(m_socket_path.c_str());
}

} // namespace glyphrain::test

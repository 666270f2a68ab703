// SPDX-License-Identifier: MIT
// Whole-file reading and complete writes.
#include "system/file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/error.hpp"
#include "system/unique_fd.hpp"

namespace glyphrain {

std::optional<std::string> read_regular_file(const std::string& path, std::size_t max_bytes) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is rejected by the type check below.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (static_cast<std::uintmax_t>(st.st_size) > max_bytes) return std::nullopt;
    std::string content;
    content.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        // One byte beyond the limit is enough to tell that the file is too large.
        const std::size_t room = max_bytes - content.size() + 1;
        ssize_t n = ::read(fd.get(), chunk, std::min(sizeof chunk, room));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        content.append(chunk, static_cast<std::size_t>(n));
        if (content.size() > max_bytes) return std::nullopt;
    }
    return content;
}

void write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SystemError(errno);
        }
        if (n == 0) throw SystemError(EIO);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace glyphrain

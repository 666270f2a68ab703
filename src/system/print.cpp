// SPDX-License-Identifier: MIT
// The one writer of standard error.
#include "system/print.hpp"

#include <cerrno>
#include <unistd.h>

namespace glyphrain {

void write_stderr(std::string_view text) noexcept {
    const int saved_errno = errno;
    while (!text.empty()) {
        ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n > 0)
            text.remove_prefix(static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // nobody can be told that telling failed
    }
    errno = saved_errno;
}

} // namespace glyphrain

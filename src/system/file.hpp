// SPDX-License-Identifier: MIT
// Reading whole files and writing whole buffers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace glyphrain {

/// The whole content of a regular file, or nothing when it cannot be opened or read, is not a
/// regular file (directories, FIFOs and devices would fail or never end) or holds more than
/// max_bytes. The size is checked before reading, and the read stops past max_bytes, so a file
/// that grows meanwhile still costs at most max_bytes + 1 bytes of memory.
std::optional<std::string> read_regular_file(const std::string& path, std::size_t max_bytes);

/// Writes all of data to fd, continuing after partial writes and retrying after EINTR;
/// throws SystemError on failure.
void write_all(int fd, std::string_view data);

} // namespace glyphrain

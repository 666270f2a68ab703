// SPDX-License-Identifier: MIT
// Reading and mapping whole files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace glyphrain {

/// The whole content of a regular file, or nothing when it cannot be opened or read, is not a
/// regular file (directories, FIFOs and devices would fail or never end) or holds more than
/// max_bytes. The size is checked before reading, and the read stops past max_bytes, so a file
/// that grows meanwhile still costs at most max_bytes + 1 bytes of memory.
std::optional<std::string> read_regular_file(const std::string& path, std::size_t max_bytes);

/// A read-only private mapping of a whole file; an empty file maps to an empty span.
class MappedFile {
  public:
    MappedFile() = default;
    /// Maps the file at path; throws SystemError when it cannot be opened, read or mapped.
    explicit MappedFile(const std::string& path);
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::span<const std::uint8_t> bytes() const noexcept { return {m_data, m_size}; }

  private:
    void unmap() noexcept;

    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

/// Writes all of data to fd, continuing after partial writes and retrying after EINTR;
/// throws SystemError on failure.
void write_all(int fd, std::string_view data);

} // namespace glyphrain

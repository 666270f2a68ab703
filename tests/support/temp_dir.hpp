// SPDX-License-Identifier: MIT
// A temporary directory removed with everything in it when the test ends.
#pragma once

#include <string>
#include <vector>

namespace glyphrain::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const noexcept { return m_path; }
    /// path() joined with name.
    std::string file(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

/// Writes content to path, replacing it; creates nothing else.
void write_file(const std::string& path, const std::string& content);
/// The whole file, or an empty string when it is missing.
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
/// The names in a directory, sorted.
std::vector<std::string> directory_entries(const std::string& dir);

} // namespace glyphrain::test

// SPDX-License-Identifier: MIT
// Joining and splitting file paths as plain strings; nothing here touches the disk.
#pragma once

#include <string>
#include <string_view>

namespace glyphrain {

/// dir and name with one '/' between them; name alone when dir is empty.
std::string join_path(std::string dir, std::string_view name);

/// The directory part of path without trailing slashes: "" when there is none, "/" for the root.
std::string parent_directory(std::string_view path);

/// The part of path after its last '/'.
std::string_view base_name(std::string_view path) noexcept;

} // namespace glyphrain

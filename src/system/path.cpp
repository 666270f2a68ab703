// SPDX-License-Identifier: MIT
// Path strings split and joined the same way by every room.
#include "system/path.hpp"

namespace glyphrain {

std::string join_path(std::string dir, std::string_view name) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    dir += name;
    return dir;
}

std::string parent_directory(std::string_view path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return {};
    auto end = path.find_last_not_of('/', slash);
    if (end == std::string_view::npos) return "/";
    return std::string(path.substr(0, end + 1));
}

std::string_view base_name(std::string_view path) noexcept {
    auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace glyphrain

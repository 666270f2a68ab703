// SPDX-License-Identifier: MIT
// The configuration file format: key = value lines over the defaults, then the theme rule.
#include "config/settings.hpp"

#include <charconv>
#include <limits>

#include "system/file.hpp"
#include "system/text.hpp"

namespace glyphrain {
namespace {

template <typename T> std::optional<T> parse_unsigned(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    T value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        T digit = static_cast<T>(c - '0');
        if (value > (std::numeric_limits<T>::max() - digit) / 10) return std::nullopt;
        value = static_cast<T>(value * 10 + digit);
    }
    return value;
}

template <typename T> void store_in_range(T& field, std::optional<T> value, T lo, T hi) noexcept {
    if (value && *value >= lo && *value <= hi) field = *value;
}

} // namespace

bool is_zenburn(std::string_view name) noexcept {
    constexpr std::string_view k_name = "zenburn";
    if (name.size() != k_name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != k_name[i]) return false;
    }
    return true;
}

std::optional<std::uint64_t> parse_u64(std::string_view text) noexcept {
    return parse_unsigned<std::uint64_t>(text);
}
std::optional<std::uint32_t> parse_u32(std::string_view text) noexcept {
    return parse_unsigned<std::uint32_t>(text);
}
std::optional<std::uint8_t> parse_u8(std::string_view text) noexcept {
    return parse_unsigned<std::uint8_t>(text);
}

std::optional<Rgb> parse_rgb(std::string_view text) {
    std::uint8_t channels[3];
    std::size_t count = 0;
    for (;;) {
        std::size_t comma = text.find(',');
        if (count == 3) return std::nullopt; // a fourth part
        auto value = parse_u8(trim_white_space(text.substr(0, comma)));
        if (!value) return std::nullopt;
        channels[count++] = *value;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    if (count != 3) return std::nullopt;
    return Rgb{channels[0], channels[1], channels[2]};
}

Settings parse_config(std::string_view content) {
    Settings s;
    if (!is_valid_utf8(content)) return s;
    bool color_set = false, trail_set = false;
    auto store_text = [](std::optional<std::string>& field, std::string_view value) {
        if (!value.empty()) field = std::string(value);
    };
    while (!content.empty()) {
        std::size_t nl = content.find('\n');
        std::string_view line = trim_white_space(content.substr(0, nl));
        content.remove_prefix(nl == std::string_view::npos ? content.size() : nl + 1);
        if (line.empty() || line.front() == '#') continue;
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = trim_white_space(line.substr(0, eq));
        std::string_view value = trim_white_space(line.substr(eq + 1));

        if (key == "size") {
            store_in_range(s.size, parse_u64(value), k_min_size, k_max_size);
        } else if (key == "speed") {
            store_in_range(s.speed, parse_u64(value), k_min_speed, k_max_speed);
        } else if (key == "density") {
            store_in_range(s.density, parse_u32(value), k_min_density, k_max_density);
        } else if (key == "font") {
            store_text(s.font, value);
        } else if (key == "theme") {
            store_text(s.theme, value);
        } else if (key == "left_click") {
            store_text(s.left_click, value);
        } else if (key == "middle_click") {
            store_text(s.middle_click, value);
        } else if (key == "right_click") {
            store_text(s.right_click, value);
        } else if (key == "color") {
            if (auto rgb = parse_rgb(value)) s.color = *rgb, color_set = true;
        } else if (key == "trail_color") {
            if (auto rgb = parse_rgb(value)) s.trail_color = *rgb, trail_set = true;
        } else if (key == "verbose") {
            s.verbose = value == "true";
        } else if (key == "quiet") {
            s.quiet = value == "true";
        } else if (key == "background") {
            s.background = value == "true";
        }
    }
    // An explicit valid colour anywhere in the file wins over the theme's.
    if (s.theme && is_zenburn(*s.theme)) {
        if (!color_set) s.color = k_zenburn_color;
        if (!trail_set) s.trail_color = k_zenburn_trail_color;
    }
    return s;
}

Settings load_config(const std::optional<std::string>& path) {
    if (!path) return Settings{};
    std::optional<std::string> content = read_regular_file(*path, k_max_config_bytes);
    if (!content) return Settings{};
    return parse_config(*content);
}

} // namespace glyphrain

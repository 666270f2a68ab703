// SPDX-License-Identifier: MIT
// The configuration file format: key = value lines over the defaults, then the theme rule.
#include "config/settings.hpp"

#include <array>
#include <charconv>
#include <limits>

#include <fmt/core.h>

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

// In the order of the enums' values.
constexpr std::array<std::string_view, 4> k_corner_names = {"top-left", "top-right", "bottom-left",
                                                            "bottom-right"};
constexpr std::array<std::string_view, 4> k_layer_names = {"background", "bottom", "top",
                                                           "overlay"};

template <typename Enum, std::size_t N>
std::optional<Enum> find_name(const std::array<std::string_view, N>& names,
                              std::string_view text) noexcept {
    for (std::size_t i = 0; i < N; ++i)
        if (text == names[i]) return static_cast<Enum>(i);
    return std::nullopt;
}

/// A value or key as a message shows it: control characters made visible as "?" so that a line
/// cannot move the terminal's cursor, and long text cut at a character boundary.
std::string shown(std::string_view text) {
    constexpr std::size_t k_max_bytes = 40;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // Continuation bytes (10xxxxxx) never start a character.
        if (out.size() >= k_max_bytes && (byte & 0xc0) != 0x80) return out + "...";
        out += byte < 0x20 || byte == 0x7f ? '?' : text[i];
    }
    return out;
}

/// Why value was not stored for a number key with the range lo to hi, or nothing when it was.
template <typename T>
std::optional<std::string> store_in_range(T& field, std::string_view key, std::string_view value,
                                          T lo, T hi) {
    const std::optional<T> number = parse_unsigned<T>(value);
    if (number && *number >= lo && *number <= hi) {
        field = *number;
        return std::nullopt;
    }
    // Digits that overflow the field are a number too, just far out of range.
    const std::size_t digits_from = value.starts_with('+') ? 1 : 0;
    if (value.size() == digits_from ||
        value.find_first_not_of("0123456789", digits_from) != std::string_view::npos)
        return fmt::format("{} \"{}\" is not a number", key, shown(value));
    return fmt::format("{} {} is out of range ({} to {})", key, shown(value), lo, hi);
}

/// Why value was not stored for a key that takes one of a few names, or nothing when it was.
template <typename Enum, std::size_t N>
std::optional<std::string> store_name(Enum& field, std::string_view key, std::string_view value,
                                      const std::array<std::string_view, N>& names) {
    if (const std::optional<Enum> found = find_name<Enum>(names, value)) {
        field = *found;
        return std::nullopt;
    }
    std::string listed;
    for (std::string_view name : names)
        listed += (listed.empty() ? "" : ", ") + std::string(name);
    return fmt::format("{} \"{}\" is not one of {}", key, shown(value), listed);
}

} // namespace

std::string_view corner_name(Corner corner) noexcept {
    return k_corner_names[static_cast<std::size_t>(corner)];
}
std::string_view layer_name(Layer layer) noexcept {
    return k_layer_names[static_cast<std::size_t>(layer)];
}
std::optional<Corner> parse_corner(std::string_view text) noexcept {
    return find_name<Corner>(k_corner_names, text);
}
std::optional<Layer> parse_layer(std::string_view text) noexcept {
    return find_name<Layer>(k_layer_names, text);
}

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

Settings parse_config(std::string_view content, IgnoredLines* ignored) {
    Settings s;
    if (!is_valid_utf8(content)) return s;
    bool color_set = false, trail_set = false;
    auto store_text = [](std::optional<std::string>& field, std::string_view value) {
        if (!value.empty()) field = std::string(value);
    };
    auto store_rgb = [](Rgb& field, bool& marker, std::string_view key,
                        std::string_view value) -> std::optional<std::string> {
        if (const std::optional<Rgb> rgb = parse_rgb(value)) {
            field = *rgb;
            marker = true;
            return std::nullopt;
        }
        return fmt::format("{} \"{}\" is not three numbers 0 to 255 (R, G, B)", key, shown(value));
    };
    std::size_t number = 0;
    while (!content.empty()) {
        ++number;
        std::size_t nl = content.find('\n');
        std::string_view line = trim_white_space(content.substr(0, nl));
        content.remove_prefix(nl == std::string_view::npos ? content.size() : nl + 1);
        if (line.empty() || line.front() == '#') continue;
        std::size_t eq = line.find('=');
        std::string_view key = trim_white_space(line.substr(0, eq));
        std::string_view value =
            eq == std::string_view::npos ? "" : trim_white_space(line.substr(eq + 1));

        std::optional<std::string> why;
        if (eq == std::string_view::npos) {
            why = fmt::format("\"{}\" is not a key = value line", shown(line));
        } else if (key == "size") {
            why = store_in_range(s.size, key, value, k_min_size, k_max_size);
        } else if (key == "speed") {
            why = store_in_range(s.speed, key, value, k_min_speed, k_max_speed);
        } else if (key == "density") {
            why = store_in_range(s.density, key, value, k_min_density, k_max_density);
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
            why = store_rgb(s.color, color_set, key, value);
        } else if (key == "trail_color") {
            why = store_rgb(s.trail_color, trail_set, key, value);
        } else if (key == "corner") {
            why = store_name(s.corner, key, value, k_corner_names);
        } else if (key == "margin") {
            why = store_in_range(s.margin, key, value, k_min_margin, k_max_margin);
        } else if (key == "layer") {
            why = store_name(s.layer, key, value, k_layer_names);
        } else if (key == "output") {
            store_text(s.output, value);
        } else if (key == "verbose") {
            s.verbose = value == "true";
        } else if (key == "quiet") {
            s.quiet = value == "true";
        } else if (key == "background") {
            s.background = value == "true";
        } else {
            why = fmt::format("unknown key \"{}\"", shown(key));
        }
        if (why && ignored != nullptr) {
            if (ignored->first.size() < IgnoredLines::k_lines_kept)
                ignored->first.push_back({number, std::move(*why)});
            ++ignored->count;
        }
    }
    // An explicit valid colour anywhere in the file wins over the theme's.
    if (s.theme && is_zenburn(*s.theme)) {
        if (!color_set) s.color = k_zenburn_color;
        if (!trail_set) s.trail_color = k_zenburn_trail_color;
    }
    return s;
}

Settings load_config(const std::optional<std::string>& path, IgnoredLines* ignored) {
    if (!path) return Settings{};
    std::optional<std::string> content = read_regular_file(*path, k_max_config_bytes);
    if (!content) return Settings{};
    return parse_config(*content, ignored);
}

} // namespace glyphrain

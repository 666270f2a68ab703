// SPDX-License-Identifier: MIT
// The settings record, its colour type and theme, and the configuration file reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glyphrain {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr std::uint64_t k_min_size = 96, k_max_size = 1024, k_default_size = 96;
inline constexpr std::uint64_t k_min_speed = 10, k_max_speed = 1000, k_default_speed = 80;
inline constexpr std::uint32_t k_min_density = 1, k_max_density = 100, k_default_density = 75;
inline constexpr std::uint32_t k_min_margin = 0, k_max_margin = 10000, k_default_margin = 0;
/// A larger configuration file is treated as unreadable, like a missing one.
inline constexpr std::size_t k_max_config_bytes = 1048576;
inline constexpr Rgb k_default_color{180, 255, 180};
inline constexpr Rgb k_default_trail_color{0, 200, 0};
inline constexpr Rgb k_zenburn_color{220, 193, 153};
inline constexpr Rgb k_zenburn_trail_color{180, 158, 125};

/// Where a Wayland layer surface sits: the corner of its output and the layer it is stacked in.
/// X11 has no use for them.
enum class Corner : std::uint8_t { top_left, top_right, bottom_left, bottom_right };
enum class Layer : std::uint8_t { background, bottom, top, overlay };

/// Every run-time choice. size, speed, density and margin always lie in their ranges.
struct Settings {
    std::uint64_t size = k_default_size;       // pixels, edge of the square window
    std::uint64_t speed = k_default_speed;     // milliseconds per frame
    std::uint32_t density = k_default_density; // percent of columns active at once
    std::optional<std::string> font;
    std::optional<std::string> theme;
    Rgb color = k_default_color;
    Rgb trail_color = k_default_trail_color;
    std::optional<std::string> left_click;
    std::optional<std::string> middle_click;
    std::optional<std::string> right_click;
    bool verbose = false;
    bool quiet = false;
    bool background = false;
    Corner corner = Corner::top_right;
    std::uint32_t margin = k_default_margin; // pixels from both edges of the corner
    Layer layer = Layer::top;
    std::optional<std::string> output; // by name; none: the compositor's choice

    friend bool operator==(const Settings&, const Settings&) = default;
};

/// True for exactly seven characters equal to "zenburn" ignoring ASCII case.
bool is_zenburn(std::string_view name) noexcept;

/// The unsigned number rule: an optional "+" then one or more ASCII digits, nothing else;
/// nothing when the text breaks the rule or overflows the width.
std::optional<std::uint64_t> parse_u64(std::string_view text) noexcept;
std::optional<std::uint32_t> parse_u32(std::string_view text) noexcept;
std::optional<std::uint8_t> parse_u8(std::string_view text) noexcept;

/// The names the file and the command line use ("top-right", "overlay"), and back; nothing for
/// any other text, letter case included.
std::string_view corner_name(Corner corner) noexcept;
std::string_view layer_name(Layer layer) noexcept;
std::optional<Corner> parse_corner(std::string_view text) noexcept;
std::optional<Layer> parse_layer(std::string_view text) noexcept;

/// "R, G, B": three comma-separated parts, each trimmed and an 8-bit unsigned number.
std::optional<Rgb> parse_rgb(std::string_view text);

/// The lines of a file that were read but left nothing stored, so that a typo can be told from a
/// fault: the first k_lines_kept of them with why, and how many there were in all.
struct IgnoredLines {
    static constexpr std::size_t k_lines_kept = 5;
    struct Line {
        std::size_t number = 0; // from 1
        std::string why;        // e.g. unknown key "colour"
        friend bool operator==(const Line&, const Line&) = default;
    };
    std::vector<Line> first;
    std::size_t count = 0;
};

/// The defaults overridden by the configuration file at path. Never fails: a missing,
/// unreadable, non-regular or non-UTF-8 file gives the defaults, bad lines and values are skipped
/// and, with ignored, noted there.
Settings load_config(const std::optional<std::string>& path, IgnoredLines* ignored = nullptr);

/// The same rules applied to file content already in memory.
Settings parse_config(std::string_view content, IgnoredLines* ignored = nullptr);

} // namespace glyphrain

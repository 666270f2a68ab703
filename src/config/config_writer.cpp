// SPDX-License-Identifier: MIT
// The annotated configuration file: its text, the refusal of values it cannot hold, and when to
// write it (after asking, or only where none exists).
#include "config/config_writer.hpp"

#include <iterator>
#include <optional>
#include <sys/stat.h>

#include <fmt/core.h>
#include <fmt/format.h>

#include "config/config_path.hpp"
#include "config/prompt.hpp"
#include "system/error.hpp"
#include "system/print.hpp"
#include "system/text.hpp"

namespace glyphrain {
namespace {

void append_line(std::string& out, std::string_view line) {
    out += line;
    out += '\n';
}

/// The active "key = value" line when the setting differs from its default, else the commented
/// default line.
template <typename Value>
void append_setting(std::string& out, bool is_default, std::string_view commented,
                    std::string_view key, const Value& value) {
    if (is_default)
        append_line(out, commented);
    else
        fmt::format_to(std::back_inserter(out), "{} = {}\n", key, value);
}

void append_text_setting(std::string& out, std::string_view commented, std::string_view key,
                         const std::optional<std::string>& value) {
    append_setting(out, !value, commented, key, value ? std::string_view(*value) : "");
}

void append_rgb_setting(std::string& out, std::string_view commented, std::string_view key,
                        Rgb value, Rgb default_value) {
    append_setting(out, value == default_value, commented, key,
                   fmt::format("{}, {}, {}", value.r, value.g, value.b));
}

/// The three click commands, and the two flags that are off by default, render alike.
struct ClickSection {
    std::string_view comment, commented, key;
    const std::optional<std::string>& command;
};
struct FlagSection {
    std::string_view comment, commented, key;
    bool on;
};

/// A line break would add lines of its own to the file (a command run on every click, say), and
/// invalid UTF-8 makes the reader discard the whole file, so both are refused.
void check_text_value(std::string_view key, const std::optional<std::string>& value) {
    if (!value) return;
    if (value->find_first_of("\r\n") != std::string::npos)
        throw AppError(fmt::format("Refusing to write {}: the value contains a line break", key));
    if (!is_valid_utf8(*value))
        throw AppError(fmt::format("Refusing to write {}: the value is not valid UTF-8", key));
}

} // namespace

std::string render_config(const Settings& s) {
    std::string out;
    out.reserve(1536);
    append_line(out, "# glyphRain configuration");
    append_line(out, "# See: glyphRain --help");
    append_line(out, "");
    append_line(out, "# Window size in pixels, 96 to 1024 (96 and 128 are the classic sizes)");
    append_setting(out, s.size == k_default_size, "# size = 96", "size", s.size);
    append_line(out, "");
    append_line(out, "# Frame interval in milliseconds (10-1000)");
    append_setting(out, s.speed == k_default_speed, "# speed = 80", "speed", s.speed);
    append_line(out, "");
    append_line(out, "# Percentage of columns active at once (1-100)");
    append_setting(out, s.density == k_default_density, "# density = 75", "density", s.density);
    append_line(out, "");
    append_line(out, "# Font file path (leave commented for auto-detect via fontconfig)");
    append_line(out, "# A CJK-capable font is preferred for Japanese characters");
    append_text_setting(out, "# font = /path/to/font.ttf", "font", s.font);
    append_line(out, "");
    append_line(out, "# Color theme: zenburn");
    append_text_setting(out, "# theme =", "theme", s.theme);
    append_line(out, "");
    append_line(out, "# Head color (R, G, B) \u2014 bright leading character");
    append_rgb_setting(out, "# color = 180, 255, 180", "color", s.color, k_default_color);
    append_line(out, "");
    append_line(out, "# Trail color (R, G, B) \u2014 fading trail characters");
    append_rgb_setting(out, "# trail_color = 0, 200, 0", "trail_color", s.trail_color,
                       k_default_trail_color);
    const ClickSection clicks[] = {
        {"# Left click command", "# left_click =", "left_click", s.left_click},
        {"# Middle click command (default: reload config)", "# middle_click =", "middle_click",
         s.middle_click},
        {"# Right click command", "# right_click =", "right_click", s.right_click},
    };
    for (const ClickSection& click : clicks) {
        append_line(out, "");
        append_line(out, click.comment);
        append_text_setting(out, click.commented, click.key, click.command);
    }
    const FlagSection flags[] = {
        {"# Enable verbose output", "# verbose = false", "verbose", s.verbose},
        {"# Suppress informational output", "# quiet = false", "quiet", s.quiet},
    };
    for (const FlagSection& flag : flags) {
        append_line(out, "");
        append_line(out, flag.comment);
        append_setting(out, !flag.on, flag.commented, flag.key, "true");
    }
    append_line(out, "");
    append_line(out, "# Run in the background");
    // The commented form reads "= true" on purpose: it shows what to write to switch it on.
    append_setting(out, !s.background, "# background = true", "background", "true");
    append_line(out, "");
    // The four keys that place a Wayland layer surface share one block.
    append_line(out, "# Wayland surface corner: top-left, top-right, bottom-left, bottom-right "
                     "(X11 ignores it)");
    append_setting(out, s.corner == Corner::top_right, "# corner = top-right", "corner",
                   corner_name(s.corner));
    append_line(out, "# Wayland surface margin from the corner's edges in pixels, 0 to 10000 "
                     "(X11 ignores it)");
    append_setting(out, s.margin == k_default_margin, "# margin = 0", "margin", s.margin);
    append_line(out, "# Wayland surface layer: background, bottom, top, overlay (X11 ignores it)");
    append_setting(out, s.layer == Layer::top, "# layer = top", "layer", layer_name(s.layer));
    append_line(out, "# Wayland output by name, e.g. DP-1 (default: the compositor's choice; X11 "
                     "ignores it)");
    append_text_setting(out, "# output =", "output", s.output);
    return out;
}

bool write_config(const std::string& path, const Settings& settings, WriteMode mode) {
    check_text_value("font", settings.font);
    check_text_value("theme", settings.theme);
    check_text_value("left_click", settings.left_click);
    check_text_value("middle_click", settings.middle_click);
    check_text_value("right_click", settings.right_click);
    check_text_value("output", settings.output);

    return replace_file(path, render_config(settings), mode);
}

int save_config_interactively(const std::string& target, const Settings& settings) {
    const std::string shown = decode_utf8_lossy(target);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        std::string answer =
            prompt_line(fmt::format("Config already exists at {}. Overwrite? [y/N] ", shown));
        if (!ask_yes(answer)) {
            print_stderr("Aborted.\n");
            return 0;
        }
    }
    write_config(target, settings);
    print_stderr("Config written to {}\n", shown);
    return 0;
}

void write_default_config_if_missing(const std::optional<std::string>& named,
                                     const Settings& settings) noexcept {
    try {
        std::optional<std::string> path = config_path(named);
        struct stat st {};
        if (!path || ::stat(path->c_str(), &st) == 0) return;
        try {
            // The user (or an editor saving by rename) may have made the file meanwhile: theirs
            // wins, and the reload reads it.
            if (!write_config(*path, settings, WriteMode::keep_existing)) return;
        } catch (const std::exception& e) {
            // Name the file, unless the reason already does (an unwritable directory).
            const std::string shown = decode_utf8_lossy(*path);
            const std::string_view reason = e.what();
            if (reason.find(shown) != std::string_view::npos)
                print_stderr("glyphRain: failed to write config: {}\n", reason);
            else
                print_stderr("glyphRain: failed to write config {}: {}\n", shown, reason);
            return;
        }
        if (!settings.quiet)
            print_stderr("glyphRain: wrote default config to {}\n", decode_utf8_lossy(*path));
    } catch (...) {
        // Only memory can run out here; the reload that called this goes on regardless.
    }
}

} // namespace glyphrain

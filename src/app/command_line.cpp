// SPDX-License-Identifier: MIT
// Command-line rules shared by start-up and every reload.
#include "app/command_line.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <string>
#include <unistd.h>

#include "config/config_path.hpp"
#include "system/path.hpp"

namespace glyphrain {
namespace {

/// The running executable's absolute path; nothing when /proc cannot tell, or when the file has
/// been replaced since (a rebuild), as the path then names the new file only by accident.
std::optional<std::string> running_executable() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer || buffer[0] != '/')
        return std::nullopt;
    std::string path(buffer, static_cast<std::size_t>(length));
    if (path.ends_with(" (deleted)")) return std::nullopt;
    return path;
}

/// The current directory; nothing when it cannot be found (removed, or too long).
std::optional<std::string> current_directory() {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr || buffer[0] != '/') return std::nullopt;
    return std::string(buffer);
}

constexpr std::string_view k_help =
    "glyphRain - Matrix rain dockapp for the Fluxbox slit\n"
    "\n"
    "Usage: glyphRain [OPTIONS]\n"
    "\n"
    "Options:\n"
    "  --size SIZE            Window size in pixels, 96-1024 (default 96)\n"
    "  --speed MS             Frame interval in milliseconds (default: 80, range: 10-1000)\n"
    "  --density PCT          Percentage of columns active at once (default: 75, range: 1-100)\n"
    "  --font PATH            Path to a TTF/OTF font file\n"
    "  --theme THEME          Color theme (e.g. zenburn)\n"
    "  --verbose              Enable verbose output\n"
    "  --quiet                Suppress informational output\n"
    "  --background           Run in background\n"
    "  --dock N               Open in slit N under Vireo (ignored elsewhere)\n"
    "  --corner VALUE         Wayland surface corner: top-left, top-right, bottom-left or\n"
    "                         bottom-right (default top-right; X11 ignores it)\n"
    "  --margin N             Wayland surface distance from the corner's edges in pixels,\n"
    "                         0-10000 (default 0; X11 ignores it)\n"
    "  --layer VALUE          Wayland surface layer: background, bottom, top or overlay\n"
    "                         (default top; X11 ignores it)\n"
    "  --output NAME          Wayland output by name, e.g. DP-1 (default: the compositor's\n"
    "                         choice; X11 ignores it)\n"
    "  --write-config [PATH]  Write annotated config file and exit\n"
    "  --configure            Interactive configuration wizard\n"
    "  --config PATH          Load config from PATH (default:\n"
    "                         $XDG_CONFIG_HOME/glyphRain/config)\n"
    "  --help                 Show this help message\n"
    "\n"
    "Config: ${XDG_CONFIG_HOME:-~/.config}/glyphRain/config\n"
    "\n"
    "Config options:\n"
    "  size = 96                              Window size (96-1024)\n"
    "  speed = 80                             Frame interval in ms (10-1000)\n"
    "  density = 75                           Column density %% (1-100)\n"
    "  font = /path/to/font.ttf               Font file path\n"
    "  color = 180, 255, 180                  Head color (R, G, B)\n"
    "  trail_color = 0, 200, 0                Trail color (R, G, B)\n"
    "  theme = zenburn                        Color theme\n"
    "  left_click =                           Left click command\n"
    "  middle_click =                         Middle click command\n"
    "  right_click =                          Right click command\n"
    "  verbose = false                        Enable verbose output\n"
    "  quiet = false                          Suppress informational output\n"
    "  background = true                      Run in background\n"
    "  corner = top-right                     Wayland surface corner\n"
    "  margin = 0                             Wayland surface margin in pixels (0-10000)\n"
    "  layer = top                            Wayland surface layer\n"
    "  output = DP-1                          Wayland output name\n"
    "\n"
    "Environment:\n"
    "  GLYPHRAIN_BACKEND      x11 or wayland forces that display system; otherwise Wayland is\n"
    "                         used when WAYLAND_DISPLAY names a compositor with the layer\n"
    "                         shell, else X11\n"
    "  GLYPHRAIN_NO_SHM       When set, X11 frames never go through shared memory\n";

constexpr std::array<std::string_view, 7> k_flag_options = {
    "--help", "--version", "--verbose", "--quiet", "--background", "--configure", "--write-config"};
constexpr std::array<std::string_view, 11> k_value_options = {
    "--size",   "--speed",  "--density", "--font",  "--theme", "--dock",
    "--config", "--corner", "--margin",  "--layer", "--output"};

bool contains(auto const& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

} // namespace

std::string_view help_text() noexcept {
    return k_help;
}

bool has_arg(const ArgList& args, std::string_view name) noexcept {
    return std::find(args.begin(), args.end(), name) != args.end();
}

std::optional<std::string> find_unknown_option(const ArgList& args) {
    for (std::size_t i = 1; i < args.size();) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || !arg.starts_with("--")) {
            ++i;
        } else if (contains(k_flag_options, arg)) {
            ++i;
        } else if (contains(k_value_options, arg)) {
            i += 2; // the value is passed over whatever it holds
        } else {
            return arg;
        }
    }
    return std::nullopt;
}

void apply_command_line(Settings& settings, const ArgList& args) {
    if (has_arg(args, "--background")) settings.background = true;
    if (has_arg(args, "--verbose")) settings.verbose = true;
    if (has_arg(args, "--quiet")) settings.quiet = true;

    // Every neighbouring pair is tried, so a value that is itself an option is also used as one.
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        const std::string& name = args[i];
        const std::string& value = args[i + 1];
        if (name == "--size") {
            auto n = parse_u64(value);
            if (n && *n >= k_min_size && *n <= k_max_size) settings.size = *n;
        } else if (name == "--speed") {
            auto n = parse_u64(value);
            if (n && *n >= k_min_speed && *n <= k_max_speed) settings.speed = *n;
        } else if (name == "--density") {
            auto n = parse_u32(value);
            if (n && *n >= k_min_density && *n <= k_max_density) settings.density = *n;
        } else if (name == "--margin") {
            auto n = parse_u32(value);
            if (n && *n <= k_max_margin) settings.margin = *n;
        } else if (name == "--corner") {
            if (auto corner = parse_corner(value)) settings.corner = *corner;
        } else if (name == "--layer") {
            if (auto layer = parse_layer(value)) settings.layer = *layer;
        } else if (name == "--output") {
            if (!value.empty()) settings.output = value;
        } else if (name == "--font") {
            settings.font = value;
        } else if (name == "--theme") {
            settings.theme = value;
            // On the command line the theme wins over colours from the file.
            if (is_zenburn(value)) {
                settings.color = k_zenburn_color;
                settings.trail_color = k_zenburn_trail_color;
            }
        }
    }
}

std::optional<std::string> config_option(const ArgList& args) {
    auto it = std::find(args.begin(), args.end(), "--config");
    if (it == args.end() || it + 1 == args.end()) return std::nullopt;
    return *(it + 1);
}

std::optional<std::uint32_t> dock_slit_from_args(const ArgList& args) noexcept {
    auto it = std::find(args.begin(), args.end(), "--dock");
    if (it == args.end() || it + 1 == args.end()) return std::nullopt;
    return parse_u32(*(it + 1));
}

Settings derive_settings(const ArgList& args, IgnoredLines* ignored) {
    Settings settings = load_config(config_path(config_option(args)), ignored);
    apply_command_line(settings, args);
    return settings;
}

ArgList session_command(const ArgList& args) {
    ArgList command = args;
    if (command.empty()) return command;
    std::string& program = command.front();
    // Only a relative path depends on the directory the program was started from, which the
    // next session will not share.
    if (program.empty() || program.front() == '/' || program.find('/') == std::string::npos)
        return command;
    if (std::optional<std::string> executable = running_executable())
        program = std::move(*executable);
    else if (std::optional<std::string> directory = current_directory())
        program = join_path(std::move(*directory), program);
    return command;
}

} // namespace glyphrain

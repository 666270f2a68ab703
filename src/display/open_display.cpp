// SPDX-License-Identifier: MIT
// The display system chosen at start-up: the one place that knows both implementations.
#include "display/open_display.hpp"

#include <cstdlib>
#include <string_view>
#include <utility>

#include <fmt/core.h>

#include "display/wayland/layer_surface.hpp"
#include "display/x11/dock_window.hpp"
#include "system/error.hpp"

namespace glyphrain {
namespace {

constexpr char k_backend_variable[] = "GLYPHRAIN_BACKEND";
constexpr char k_no_layer_shell[] =
    "The Wayland compositor offers no layer shell (zwlr_layer_shell_v1)";

/// The variable's value, or nothing when it is unset or empty.
std::optional<std::string_view> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return value;
}

} // namespace

OpenedDisplay open_display(std::uint16_t size, std::optional<std::uint32_t> slit,
                           std::span<const std::string> command, const Placement& placement) {
    const auto x11 = [&](std::optional<std::string> note) {
        return OpenedDisplay{std::make_unique<DockWindow>(size, slit, command), std::move(note)};
    };
    const std::optional<std::string_view> backend = environment(k_backend_variable);
    if (backend == "x11") return x11(std::nullopt);
    if (backend == "wayland") {
        std::unique_ptr<Display> display = open_layer_surface(size, placement);
        if (!display) throw AppError(k_no_layer_shell);
        return {std::move(display), std::nullopt};
    }
    if (backend)
        throw AppError(fmt::format("{} is '{}': set it to x11 or wayland, or leave it unset",
                                   k_backend_variable, *backend));

    const std::optional<std::string_view> wayland = environment("WAYLAND_DISPLAY");
    if (!wayland) return x11(std::nullopt);
    // Only a session that also has X can fall back on it; without DISPLAY the Wayland failure is
    // the one worth telling.
    const std::optional<std::string_view> display_name = environment("DISPLAY");
    try {
        if (std::unique_ptr<Display> display = open_layer_surface(size, placement))
            return {std::move(display), std::nullopt};
    } catch (const CompositorUnreachable&) {
        if (!display_name) throw;
        return x11(fmt::format("glyphRain: no Wayland compositor answers at {}; using X11 on {}",
                               *wayland, *display_name));
    }
    if (!display_name) throw AppError(fmt::format("{}, and DISPLAY is not set", k_no_layer_shell));
    return x11(fmt::format(
        "glyphRain: the Wayland compositor offers no layer shell; using X11 on {}", *display_name));
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Run mode start-up: settings, font and atlas, rain, window, then the main loop.
#include "app/run_mode.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "app/background.hpp"
#include "app/click_commands.hpp"
#include "app/command_line.hpp"
#include "app/main_loop.hpp"
#include "config/config_path.hpp"
#include "config/config_writer.hpp"
#include "display/open_display.hpp"
#include "glyphs/load_glyphs.hpp"
#include "rain/compositor.hpp"
#include "rain/rain_state.hpp"
#include "system/print.hpp"
#include "system/process.hpp"

namespace glyphrain {
namespace {

/// Tells the first lines of the configuration file that were ignored, one line each, and how many
/// more there were, so that a typo does not pass for a fault.
void tell_ignored(const ArgList& args, const IgnoredLines& ignored) {
    if (ignored.count == 0) return;
    const std::string path = config_path(config_option(args)).value_or("");
    for (const IgnoredLines::Line& line : ignored.first)
        print_stderr("glyphRain: {}:{}: {}, line ignored\n", path, line.number, line.why);
    if (ignored.count > ignored.first.size())
        print_stderr("glyphRain: {}: {} more lines ignored\n", path,
                     ignored.count - ignored.first.size());
}

/// The line naming what a reload read but the running program keeps until its next start: a new
/// size, speed, font or placement of the Wayland surface ("no font setting", "no output setting"
/// when the file drops one); nothing when they are unchanged.
std::optional<std::string> kept_until_restart(const Settings& running, const Settings& fresh) {
    std::vector<std::string> kept;
    if (fresh.size != running.size)
        kept.push_back(fmt::format("size {}x{}", fresh.size, fresh.size));
    if (fresh.speed != running.speed) kept.push_back(fmt::format("speed {}ms", fresh.speed));
    if (fresh.font != running.font)
        kept.push_back(fresh.font ? "font " + *fresh.font : std::string("no font setting"));
    if (fresh.corner != running.corner)
        kept.push_back(fmt::format("corner {}", corner_name(fresh.corner)));
    if (fresh.margin != running.margin) kept.push_back(fmt::format("margin {}", fresh.margin));
    if (fresh.layer != running.layer)
        kept.push_back(fmt::format("layer {}", layer_name(fresh.layer)));
    if (fresh.output != running.output)
        kept.push_back(fresh.output ? "output " + *fresh.output : std::string("no output setting"));
    if (kept.empty()) return std::nullopt;
    std::string named = kept[0];
    for (std::size_t i = 1; i < kept.size(); ++i)
        named += (i + 1 < kept.size() ? ", " : " and ") + kept[i];
    return fmt::format("glyphRain: the new {} take{} effect at the next start\n", named,
                       kept.size() == 1 ? "s" : "");
}

/// The program's reactions to the loop's events: clicks, reloads (SIGHUP or a middle click) and
/// the reaping of finished click commands.
class AppHooks final : public LoopHooks {
  public:
    AppHooks(Settings& settings, const ArgList& args)
        : m_settings(settings), m_args(args), m_running(settings) {}

    /// Button 1 and 3 run their click commands; button 2 runs middle_click or, when it is unset,
    /// reloads. Other buttons (the wheel, extra buttons) do nothing.
    void on_button(std::uint8_t button) override {
        switch (button) {
        case 1:
            run_click_command(m_settings.left_click);
            break;
        case 3:
            run_click_command(m_settings.right_click);
            break;
        case 2:
            if (m_settings.middle_click)
                run_click_command(m_settings.middle_click);
            else
                reload("glyphRain: config reloaded");
            break;
        default:
            break;
        }
    }

    void before_step() override {
        m_reloaded_this_pass = false;
        serve_signals();
    }
    void on_signal() override { serve_signals(); }
    bool take_reloaded() override { return std::exchange(m_reloaded, false); }

  private:
    void serve_signals() {
        // Finished click commands would otherwise stay as zombies until the program exits.
        if (take_child_ended()) reap_finished_children();
        // A SIGHUP reloads at once, but a storm of them no more than once per frame: the flag
        // left raised is served at the next pass.
        if (m_reloaded_this_pass || !take_reload_request()) return;
        m_reloaded_this_pass = true;
        reload("glyphRain: config reloaded (SIGHUP)");
    }

    /// Writes the configuration file first when it is missing, then replaces the settings whole
    /// with a fresh derivation from the file and the kept arguments, so the command line keeps
    /// its precedence; reports unless the new settings are quiet, naming what waits for the next
    /// start.
    void reload(std::string_view message) {
        write_default_config_if_missing(config_option(m_args), m_settings);
        IgnoredLines ignored;
        Settings fresh = derive_settings(m_args, &ignored);
        m_reloaded = true;
        if (!fresh.quiet) {
            print_stderr("{}\n", message);
            if (const auto kept = kept_until_restart(m_running, fresh)) print_stderr("{}", *kept);
            tell_ignored(m_args, ignored);
        }
        m_settings = std::move(fresh);
    }

    Settings& m_settings;
    const ArgList& m_args;
    const Settings m_running; // as at start: size, speed, font and placement stay so for the run
    bool m_reloaded_this_pass = false;
    bool m_reloaded = false; // since the loop last asked
};

Placement::Corner placement_corner(Corner corner) noexcept {
    switch (corner) {
    case Corner::top_left:
        return Placement::Corner::top_left;
    case Corner::top_right:
        return Placement::Corner::top_right;
    case Corner::bottom_left:
        return Placement::Corner::bottom_left;
    case Corner::bottom_right:
        return Placement::Corner::bottom_right;
    }
    return Placement::Corner::top_right;
}

Placement::Layer placement_layer(Layer layer) noexcept {
    switch (layer) {
    case Layer::background:
        return Placement::Layer::background;
    case Layer::bottom:
        return Placement::Layer::bottom;
    case Layer::top:
        return Placement::Layer::top;
    case Layer::overlay:
        return Placement::Layer::overlay;
    }
    return Placement::Layer::top;
}

} // namespace

Placement placement_of(const Settings& settings) {
    return {placement_corner(settings.corner), settings.margin, placement_layer(settings.layer),
            settings.output};
}

int run_animation(const ArgList& args) {
    IgnoredLines ignored;
    Settings settings = derive_settings(args, &ignored);
    if (!settings.quiet) tell_ignored(args, ignored);
    // Taken before anything can change the current directory a relative program name needs.
    const ArgList command = session_command(args);

    // Detach before any font or X work, so every later error is reported by the child.
    if (settings.background) detach_to_background(settings);

    const AtlasBuild glyphs = load_glyphs(settings);
    RainState rain(glyphs.cols, glyphs.rows, k_glyph_count, seed_from_clock());

    // size is at most 1024, so it fits the window's 16-bit geometry.
    OpenedDisplay opened = open_display(static_cast<std::uint16_t>(settings.size),
                                        dock_slit_from_args(args), command, placement_of(settings));
    // Says which display system serves when it is not the one the environment named first.
    if (opened.note && !settings.quiet) print_stderr("{}\n", *opened.note);
    const std::unique_ptr<Display> display = std::move(opened.display);
    if (!settings.quiet)
        print_stderr("glyphRain: running ({}x{}, speed {}ms, density {}%)\n", settings.size,
                     settings.size, settings.speed, settings.density);

    // Installed only now: a SIGHUP during start-up keeps its default effect.
    install_reload_handler();
    install_child_handler();

    FrameBuffer frame(settings.size, settings.size);
    AppHooks hooks(settings, args);
    PartialCompositor partial(glyphs.atlas, glyphs.cols, glyphs.rows, k_frame_buffers);
    return run_main_loop({settings, rain, glyphs.atlas, frame, *display, partial}, hooks);
}

} // namespace glyphrain

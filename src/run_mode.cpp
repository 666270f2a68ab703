// Run mode start-up: settings, font and atlas, rain, window, then the main loop.
#include "run_mode.hpp"

#include <cstdint>

#include <fmt/core.h>

#include "command_line.hpp"
#include "display/dock_window.hpp"
#include "glyphs/glyphs.hpp"
#include "main_loop.hpp"
#include "rain/compositor.hpp"
#include "rain/rain_state.hpp"

namespace glyphrain {

int run_animation(const ArgList& args) {
    Settings settings = derive_settings(args);

    // Seam: --background detaches here, before any font work.

    const AtlasBuild glyphs = load_glyphs(settings);
    RainState rain(glyphs.cols, glyphs.rows, k_glyph_count, seed_from_clock());

    // size is at most 1024, so it fits the window's 16-bit geometry.
    DockWindow window(static_cast<std::uint16_t>(settings.size), dock_slit_from_args(args));
    if (!settings.quiet)
        fmt::print(stderr, "glyphRain: running ({}x{}, speed {}ms, density {}%)\n", settings.size,
                   settings.size, settings.speed, settings.density);

    // Seam: the SIGHUP reload handler is installed here, after the "running" line.

    FrameBuffer frame(settings.size, settings.size);
    LoopHooks hooks; // clicks, reloads and child reaping plug in through this
    return run_main_loop({settings, rain, glyphs.atlas, frame, window}, hooks);
}

} // namespace glyphrain

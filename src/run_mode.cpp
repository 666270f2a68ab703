// Run mode start-up: settings, font and atlas, rain, window, then the main loop.
#include "run_mode.hpp"

#include "command_line.hpp"
#include "system/error.hpp"

namespace glyphrain {

int run_animation(const ArgList& args) {
    Settings settings = derive_settings(args);
    (void)settings;
    throw AppError("Run mode is not available yet");
}

} // namespace glyphrain

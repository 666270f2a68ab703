// Reloading keeps the command line's precedence: the file is re-read, then the same options
// applied.
#include "reload.hpp"

#include "command_line.hpp"
#include "config/config_writer.hpp"
#include "process_services.hpp"
#include "system/print.hpp"

namespace glyphrain {

void reload_settings(Settings& settings, const ArgList& args, ReloadCause cause) {
    write_default_config_if_missing(args, settings);
    settings = derive_settings(args);
    if (settings.quiet) return;
    print_stderr("{}\n", cause == ReloadCause::sighup ? "glyphRain: config reloaded (SIGHUP)"
                                                      : "glyphRain: config reloaded");
}

void handle_button(std::uint8_t button, Settings& settings, const ArgList& args) {
    switch (button) {
    case 1:
        run_click_command(settings.left_click);
        break;
    case 3:
        run_click_command(settings.right_click);
        break;
    case 2:
        if (settings.middle_click)
            run_click_command(settings.middle_click);
        else
            reload_settings(settings, args, ReloadCause::middle_click);
        break;
    default:
        break; // wheel and extra buttons
    }
}

} // namespace glyphrain

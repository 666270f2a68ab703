// SPDX-License-Identifier: MIT
// Reloading keeps the command line's precedence: the file is re-read, then the same options
// applied.
#include "app/reload.hpp"

#include "app/command_line.hpp"
#include "config/config_writer.hpp"
#include "system/print.hpp"

namespace glyphrain {

void reload_settings(Settings& settings, const ArgList& args, ReloadCause cause) {
    write_default_config_if_missing(args, settings);
    settings = derive_settings(args);
    if (settings.quiet) return;
    print_stderr("{}\n", cause == ReloadCause::sighup ? "glyphRain: config reloaded (SIGHUP)"
                                                      : "glyphRain: config reloaded");
}

} // namespace glyphrain

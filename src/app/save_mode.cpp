// SPDX-License-Identifier: MIT
// Save mode: derive the settings, run the wizard when asked, and write the annotated file.
#include "app/save_mode.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "app/command_line.hpp"
#include "config/config_path.hpp"
#include "config/config_writer.hpp"
#include "config/wizard.hpp"
#include "glyphs/font.hpp"
#include "system/print.hpp"

namespace glyphrain {
namespace {

/// The argument after the first "--write-config" unless it is missing or another option (even an
/// empty argument is a path), else the configuration path.
std::optional<std::string> save_target(const ArgList& args) {
    auto it = std::find(args.begin(), args.end(), "--write-config");
    if (it != args.end() && it + 1 != args.end() && !(it + 1)->starts_with("--")) return *(it + 1);
    return config_path(config_option(args));
}

} // namespace

int run_save_mode(const ArgList& args) {
    Settings settings = derive_settings(args);
    if (has_arg(args, "--configure")) settings = run_wizard(std::move(settings), suggest_font());
    // The target is chosen only now, after every question has been answered.
    std::optional<std::string> target = save_target(args);
    if (!target) {
        print_stderr("Cannot determine config path (HOME not set)\n");
        return 1;
    }
    return save_config_interactively(*target, settings);
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The command line: help text, option check, and the options' precedence over the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.hpp"

namespace glyphrain {

/// The process arguments as text, element 0 being the program name; kept for the whole run.
using ArgList = std::vector<std::string>;

/// The full help text, each line ended by a newline.
std::string_view help_text() noexcept;

/// True when any argument, the program name included, equals name.
bool has_arg(const ArgList& args, std::string_view name) noexcept;

/// The first argument after the program name that starts with "--" but is no known option
/// (values of options that take one are passed over); nothing when every option is known.
std::optional<std::string> find_unknown_option(const ArgList& args);

/// Overwrites settings from the arguments: flags switch on, valid values of neighbouring
/// option/value pairs are stored, invalid ones ignored. "--theme" zenburn also sets its colours.
void apply_command_line(Settings& settings, const ArgList& args);

/// The number after the first "--dock" when it is an unsigned 32-bit decimal number.
std::optional<std::uint32_t> dock_slit_from_args(const ArgList& args) noexcept;

/// The arguments as a later session must run them to start this program again (WM_COMMAND): a
/// program name given as a relative path (it contains a slash but does not start with one)
/// becomes the absolute path of the running executable, or of the current directory joined with
/// it when /proc cannot tell; a bare name, found on PATH, and an absolute path stay as typed, and
/// so do the other arguments.
ArgList session_command(const ArgList& args);

/// The argument after the first "--config", even an empty one (config_path passes over it);
/// nothing when there is none. Later "--config" options are not looked at.
std::optional<std::string> config_option(const ArgList& args);

/// load_config of config_path, then apply_command_line: the one way settings are derived. With
/// ignored, the file's lines that stored nothing are noted there.
Settings derive_settings(const ArgList& args, IgnoredLines* ignored = nullptr);

} // namespace glyphrain

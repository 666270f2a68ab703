// SPDX-License-Identifier: MIT
// The annotated configuration file: its text, its storing, and the save procedures of save mode
// and of a reload.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "config/settings.hpp"
#include "system/replace_file.hpp"

namespace glyphrain {

/// The annotated text: every setting at its default (or absent) is a commented line, every other
/// setting an active line. 51 lines, each ended by a line feed.
std::string render_config(const Settings& settings);

/// Stores render_config(settings) at path through replace_file (which see; replace when the user
/// asked for the file, keep_existing for a default one). Throws AppError, before touching the
/// disk, for a text value holding a line break or invalid UTF-8 (it would add lines to the file or
/// make the whole file unreadable). Prints nothing.
bool write_config(const std::string& path, const Settings& settings,
                  WriteMode mode = WriteMode::replace);

/// The save of save mode: asks before replacing an existing target, then writes and reports.
/// Returns the exit status (0 after writing or after "Aborted."); throws when the write fails.
int save_config_interactively(const std::string& target, const Settings& settings);

/// Writes settings to config_path(named) when no file is there yet, reporting the outcome on
/// standard error (success only unless settings.quiet). Never throws.
void write_default_config_if_missing(const std::optional<std::string>& named,
                                     const Settings& settings) noexcept;

} // namespace glyphrain

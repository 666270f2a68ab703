// The annotated configuration file: its text, the safe replacement of the file on disk, and the
// save procedures of save mode and of a reload.
#pragma once

#include <string>
#include <string_view>

#include "config/config_path.hpp"
#include "config/settings.hpp"

namespace glyphrain {

/// The annotated text: every setting at its default (or absent) is a commented line, every other
/// setting an active line. 42 lines, each ended by a line feed.
std::string render_config(const Settings& settings);

/// Stores render_config(settings) at path, creating missing parent directories. The file is
/// replaced atomically (a symbolic link at path is followed and kept, an existing file keeps its
/// permission bits), so a failure leaves the old file whole and no temporary file behind.
/// Throws AppError, before touching the disk, for a text value holding a line break or invalid
/// UTF-8 (it would add lines to the file or make the whole file unreadable); SystemError for
/// failures of the system. Prints nothing.
void write_config(const std::string& path, const Settings& settings);

/// True for exactly "y", "Y", "yes" or "YES".
bool ask_yes(std::string_view answer) noexcept;

/// The save of save mode: asks before replacing an existing target, then writes and reports.
/// Returns the exit status (0 after writing or after "Aborted."); throws when the write fails.
int save_config_interactively(const std::string& target, const Settings& settings);

/// Writes settings to the configuration path when no file is there yet, reporting the outcome on
/// standard error (success only unless settings.quiet). Never throws.
void write_default_config_if_missing(const ArgList& args, const Settings& settings) noexcept;

} // namespace glyphrain

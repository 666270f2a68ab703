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

/// How write_config treats a file already at the path.
enum class WriteMode {
    replace,       // the user asked for it: the old file is replaced
    keep_existing, // a default file: published only where no file exists at that moment
};

/// Stores render_config(settings) at path, creating missing parent directories. The file is
/// written to a temporary file beside it and moved into place in one step (a symbolic link at
/// path is followed and kept, a replaced file keeps its permission bits), so a failure leaves the
/// old file whole and no temporary file behind; the directory must therefore be writable.
/// Returns false, having written nothing, only with keep_existing when a file was there.
/// Throws AppError, before touching the disk, for a text value holding a line break or invalid
/// UTF-8 (it would add lines to the file or make the whole file unreadable); AppError naming the
/// directory when no temporary file may be made there; SystemError for other failures of the
/// system. Prints nothing.
bool write_config(const std::string& path, const Settings& settings,
                  WriteMode mode = WriteMode::replace);

/// True for exactly "y", "Y", "yes" or "YES".
bool ask_yes(std::string_view answer) noexcept;

/// The save of save mode: asks before replacing an existing target, then writes and reports.
/// Returns the exit status (0 after writing or after "Aborted."); throws when the write fails.
int save_config_interactively(const std::string& target, const Settings& settings);

/// Writes settings to the configuration path when no file is there yet, reporting the outcome on
/// standard error (success only unless settings.quiet). Never throws.
void write_default_config_if_missing(const ArgList& args, const Settings& settings) noexcept;

} // namespace glyphrain

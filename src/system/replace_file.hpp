// SPDX-License-Identifier: MIT
// Replacing a file's content in one step: a temporary file beside it, synced and renamed into
// place, so that a failure never leaves a half-written file behind.
#pragma once

#include <string>
#include <string_view>

namespace glyphrain {

/// How replace_file treats a file already at the path.
enum class WriteMode {
    replace,       // the old file is replaced
    keep_existing, // published only where no file exists at that moment
};

/// Stores text at path, creating missing parent directories (0777 less the umask). The text goes
/// to a temporary file beside the target and is moved into place in one step: a symbolic link at
/// path is followed and kept, a replaced file keeps its owner where allowed and its permission
/// bits, so a failure leaves the old file whole and no temporary file behind. Pipes and devices
/// are written through instead. Returns false, having written nothing, only with keep_existing
/// when a file was there. Throws AppError naming the directory when no temporary file may be made
/// there, SystemError for other failures of the system.
bool replace_file(const std::string& path, std::string_view text,
                  WriteMode mode = WriteMode::replace);

/// The rename that keep_existing publishes with: renameat2 with RENAME_NOREPLACE, -1 and errno
/// on failure.
using RenameNoReplace = int (*)(const char* from, const char* to);

/// Puts replacement in place of the no-replace rename and returns the one it replaces. Tests use it
/// to reach what a file system without RENAME_NOREPLACE does (EINVAL), and a file saved between the
/// look for one and the publish.
RenameNoReplace swap_rename_noreplace(RenameNoReplace replacement) noexcept;

} // namespace glyphrain

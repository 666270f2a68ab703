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

} // namespace glyphrain

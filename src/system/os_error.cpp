// SPDX-License-Identifier: MIT
// Rendering of system error numbers in the program's one fixed form.
#include "system/error.hpp"

#include <cstring>

#include <fmt/format.h>

namespace glyphrain {

std::string os_error_text(int errnum) {
    return fmt::format("{} (os error {})", std::strerror(errnum), errnum);
}

SystemError::SystemError(int errnum) : std::runtime_error(os_error_text(errnum)), m_code(errnum) {}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Click commands run through sh -c, detached from the loop.
#include "app/click_commands.hpp"

#include "system/process.hpp"

namespace glyphrain {

void run_click_command(const std::optional<std::string>& command) noexcept {
    if (!command || command->empty()) return;
    try {
        (void)spawn_detached({"sh", "-c", *command});
    } catch (...) {
        // Only allocation can throw here; a click that cannot start is dropped like a failed spawn.
    }
}

} // namespace glyphrain

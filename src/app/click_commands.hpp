// SPDX-License-Identifier: MIT
// The commands that clicks on the window run.
#pragma once

#include <optional>
#include <string>

namespace glyphrain {

/// Starts `sh -c command` without waiting; an unset or empty command, or a failed start, does
/// nothing. The finished shells are collected by reap_finished_children when SIGCHLD says one
/// ended.
void run_click_command(const std::optional<std::string>& command) noexcept;

} // namespace glyphrain

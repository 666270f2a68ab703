// SPDX-License-Identifier: MIT
// Starting child processes without a shell: captured and waited for, or detached.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace glyphrain {

/// Runs argv[0] (found through PATH) with empty standard input, capturing standard output and
/// standard error, and waits for it; signals start as for spawn_detached. Returns its standard
/// output when it started and exited normally with status 0; nothing otherwise (not found, failed,
/// killed). Standard error is discarded.
std::optional<std::string> run_and_capture(const std::vector<std::string>& argv);

/// Starts argv[0] (found through PATH) with the caller's descriptors, environment and directory,
/// every signal at its default action and none blocked; does not wait. Returns the child's pid, or
/// nothing when it could not be started.
std::optional<pid_t> spawn_detached(const std::vector<std::string>& argv);

/// Collects every child that has already ended, without blocking; returns how many.
int reap_finished_children() noexcept;

} // namespace glyphrain

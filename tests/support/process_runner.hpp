// SPDX-License-Identifier: MIT
// Runs a program to completion with given arguments, environment and input, under a timeout.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace glyphrain::test {

struct ProcessOptions {
    std::vector<std::string> args;                         // without the program name
    std::map<std::string, std::optional<std::string>> env; // changes: a value sets, nullopt unsets
    std::optional<std::string> input;                      // standard input; closed when absent
    std::string cwd;                                       // working directory; inherited if empty
    int timeout_ms = 30000;
    std::vector<int> blocked_signals; // blocked in the child's mask, which outlives exec
    // Once standard error holds the text, the signal is sent; standard input then stays open.
    std::optional<std::pair<std::string, int>> signal_on_err;
};

struct ProcessResult {
    int status = -1; // exit status, or 128 + signal number
    std::string out; // standard output
    std::string err; // standard error
    bool timed_out = false;
};

/// Runs program (a path, or a name found through PATH) and waits for it; a child that outlives
/// the timeout is killed.
ProcessResult run_process(const std::string& program, const ProcessOptions& options = {});

/// The built glyphRain binary.
std::string glyphrain_binary();

} // namespace glyphrain::test

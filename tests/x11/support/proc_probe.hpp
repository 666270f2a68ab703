// SPDX-License-Identifier: MIT
// Reading other processes from /proc: their state, session, children and open descriptors, for
// tests that must prove glyphRain leaves no zombie and no leaked descriptor behind.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace glyphrain::test {

struct ProcStat {
    char state = '?'; // 'Z' for a zombie
    pid_t parent = 0;
    pid_t session = 0;
};

/// The state, parent and session of pid; nothing once it is gone (or fully reaped).
std::optional<ProcStat> proc_stat(pid_t pid);

/// Every process whose parent is pid, found by scanning /proc.
std::vector<pid_t> children_of(pid_t pid);

/// The children of pid that have ended but were not collected.
std::vector<pid_t> zombie_children_of(pid_t pid);

/// The open descriptors of pid as sorted "N -> target" lines.
std::vector<std::string> open_descriptors(pid_t pid);

/// One SysV shared-memory segment as /proc/sysvipc/shm lists it.
struct SysvSegment {
    int id = 0;
    pid_t creator = 0;
    long attached = 0;
    unsigned mode = 0; // permissions, with SHM_DEST (01000) once marked for removal
};

/// Every SysV shared-memory segment in the system.
std::vector<SysvSegment> sysv_segments();

/// The processes (readable by this one) whose environment sets DISPLAY to display.
std::vector<pid_t> processes_on_display(const std::string& display);

/// Makes this process the subreaper of its orphaned descendants while the scope lives, so a
/// daemon started by a test is reparented to the test and can be reaped by it.
class SubreaperScope {
  public:
    SubreaperScope();
    ~SubreaperScope();
    SubreaperScope(const SubreaperScope&) = delete;
    SubreaperScope& operator=(const SubreaperScope&) = delete;
};

void sleep_ms(int ms);
/// Milliseconds on the monotonic clock.
long long now_ms();
bool deadline_passed(long long deadline_ms);

/// Polls pred every few milliseconds until it holds; false once timeout_ms has passed.
template <class Pred> bool eventually(Pred pred, int timeout_ms) {
    const long long deadline = now_ms() + timeout_ms;
    for (;;) {
        if (pred()) return true;
        if (deadline_passed(deadline)) return false;
        sleep_ms(5);
    }
}

} // namespace glyphrain::test

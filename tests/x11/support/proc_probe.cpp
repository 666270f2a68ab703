// SPDX-License-Identifier: MIT
// /proc parsing for process tests; fields are read after the last ')' so that a command name
// holding spaces or parentheses cannot shift them.
#include "support/proc_probe.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace glyphrain::test {
namespace {

struct CloseDir {
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, CloseDir>;

bool all_digits(const char* s) {
    if (!*s) return false;
    for (; *s; ++s)
        if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
    return true;
}

} // namespace

std::optional<ProcStat> proc_stat(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    const auto close = line.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(line.substr(close + 1));
    ProcStat st;
    long parent = 0, group = 0, session = 0;
    if (!(fields >> st.state >> parent >> group >> session)) return std::nullopt;
    st.parent = static_cast<pid_t>(parent);
    st.session = static_cast<pid_t>(session);
    return st;
}

std::vector<pid_t> children_of(pid_t pid) {
    std::vector<pid_t> out;
    DirHandle dir(::opendir("/proc"));
    if (!dir) return out;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!all_digits(entry->d_name)) continue;
        const auto candidate = static_cast<pid_t>(std::stol(entry->d_name));
        if (auto st = proc_stat(candidate); st && st->parent == pid) out.push_back(candidate);
    }
    return out;
}

std::vector<pid_t> zombie_children_of(pid_t pid) {
    std::vector<pid_t> out;
    for (pid_t child : children_of(pid))
        if (auto st = proc_stat(child); st && st->state == 'Z') out.push_back(child);
    return out;
}

std::vector<std::string> open_descriptors(pid_t pid) {
    std::vector<std::string> out;
    const std::string base = "/proc/" + std::to_string(pid) + "/fd";
    DirHandle dir(::opendir(base.c_str()));
    if (!dir) return out;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!all_digits(entry->d_name)) continue;
        char target[PATH_MAX];
        const std::string link = base + "/" + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        out.push_back(std::string(entry->d_name) + " -> " +
                      (n < 0 ? std::string("?") : std::string(target, static_cast<size_t>(n))));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<SysvSegment> sysv_segments() {
    std::vector<SysvSegment> out;
    std::ifstream table("/proc/sysvipc/shm");
    std::string line;
    std::getline(table, line); // the header
    while (std::getline(table, line)) {
        // key shmid perms size cpid lpid nattch ...
        std::istringstream fields(line);
        long key = 0, id = 0, size = 0, creator = 0, last = 0, attached = 0;
        unsigned perms = 0; // in octal
        if (fields >> key >> id >> std::oct >> perms >> std::dec >> size >> creator >> last >>
            attached)
            out.push_back({static_cast<int>(id), static_cast<pid_t>(creator), attached, perms});
    }
    return out;
}

std::vector<pid_t> processes_on_display(const std::string& display) {
    std::vector<pid_t> out;
    const std::string wanted = "DISPLAY=" + display;
    DirHandle dir(::opendir("/proc"));
    if (!dir) return out;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!all_digits(entry->d_name)) continue;
        std::ifstream environ(std::string("/proc/") + entry->d_name + "/environ");
        for (std::string var; std::getline(environ, var, '\0');)
            if (var == wanted) {
                out.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
                break;
            }
    }
    return out;
}

SubreaperScope::SubreaperScope() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
}

SubreaperScope::~SubreaperScope() {
    ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
}

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

long long now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool deadline_passed(long long deadline_ms) {
    return now_ms() >= deadline_ms;
}

} // namespace glyphrain::test

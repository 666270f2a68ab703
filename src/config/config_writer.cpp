// Rendering of the annotated configuration file and its replacement on disk through a temporary
// file, so that an interrupted or failed write never leaves a half-written configuration behind.
#include "config/config_writer.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/core.h>
#include <fmt/format.h>

#include "config/wizard.hpp"
#include "system/error.hpp"
#include "system/file.hpp"
#include "system/print.hpp"
#include "system/text.hpp"
#include "system/unique_fd.hpp"

namespace glyphrain {
namespace {

constexpr int k_max_symlink_hops = 40;
constexpr int k_max_temp_attempts = 100;
constexpr std::size_t k_max_temp_base_bytes = 100; // keeps the temporary name under NAME_MAX

void append_line(std::string& out, std::string_view line) {
    out += line;
    out += '\n';
}

/// The active "key = value" line when the setting differs from its default, else the commented
/// default line.
template <typename Value>
void append_setting(std::string& out, bool is_default, std::string_view commented,
                    std::string_view key, const Value& value) {
    if (is_default)
        append_line(out, commented);
    else
        fmt::format_to(std::back_inserter(out), "{} = {}\n", key, value);
}

void append_text_setting(std::string& out, std::string_view commented, std::string_view key,
                         const std::optional<std::string>& value) {
    append_setting(out, !value, commented, key, value ? std::string_view(*value) : "");
}

void append_rgb_setting(std::string& out, std::string_view commented, std::string_view key,
                        Rgb value, Rgb default_value) {
    append_setting(out, value == default_value, commented, key,
                   fmt::format("{}, {}, {}", value.r, value.g, value.b));
}

/// A line break would add lines of its own to the file (a command run on every click, say), and
/// invalid UTF-8 makes the reader discard the whole file, so both are refused.
void check_text_value(std::string_view key, const std::optional<std::string>& value) {
    if (!value) return;
    if (value->find_first_of("\r\n") != std::string::npos)
        throw AppError(fmt::format("Refusing to write {}: the value contains a line break", key));
    if (!is_valid_utf8(*value))
        throw AppError(fmt::format("Refusing to write {}: the value is not valid UTF-8", key));
}

/// The directory part of path without trailing slashes: "" when there is none, "/" for the root.
std::string parent_of(std::string_view path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return {};
    auto end = path.find_last_not_of('/', slash);
    if (end == std::string_view::npos) return "/";
    return std::string(path.substr(0, end + 1));
}

std::string_view base_name(std::string_view path) {
    auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& dir, std::string_view name) {
    if (dir.empty()) return std::string(name);
    return dir.ends_with('/') ? dir + std::string(name) : dir + "/" + std::string(name);
}

bool is_directory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

/// Creates dir and its missing ancestors, each with 0777 reduced by the umask; an existing
/// directory is fine, anything else in the way is an error.
void create_directories(const std::string& dir) {
    if (dir.empty() || ::mkdir(dir.c_str(), 0777) == 0) return;
    int err = errno;
    if (err == ENOENT) {
        create_directories(parent_of(dir));
        if (::mkdir(dir.c_str(), 0777) == 0) return;
        err = errno;
    }
    if (err == EEXIST) {
        if (is_directory(dir)) return;
        throw SystemError(ENOTDIR);
    }
    throw SystemError(err);
}

std::string read_link(const std::string& path) {
    std::string target(256, '\0');
    for (;;) {
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) throw SystemError(errno);
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

struct WriteTarget {
    std::string path;                  // the file to replace, symbolic links resolved
    std::optional<struct stat> status; // its metadata when it exists
};

/// The file that a write to path really replaces. Symbolic links are followed, also when the last
/// one dangles, so that the link itself survives the rename.
WriteTarget resolve_target(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return {path, st};
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
        if (!real) throw SystemError(errno);
        return {real.get(), st};
    }
    if (errno != ENOENT) throw SystemError(errno);
    std::string current = path;
    for (int hop = 0;; ++hop) {
        struct stat link {};
        if (::lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return {current, {}};
        if (hop == k_max_symlink_hops) throw SystemError(ELOOP);
        std::string next = read_link(current);
        current = next.starts_with('/') ? next : join(parent_of(current), next);
    }
}

/// A temporary file beside the target; removed again unless it was renamed into place.
class TempFile {
  public:
    explicit TempFile(const std::string& target) {
        std::string prefix =
            join(parent_of(target),
                 fmt::format(".{}.", base_name(target).substr(0, k_max_temp_base_bytes)));
        for (int attempt = 0;; ++attempt) {
            std::string candidate = fmt::format("{}{}-{}.tmp", prefix, ::getpid(), attempt);
            // 0666 so that a new file gets exactly what the umask allows.
            int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                m_fd.reset(fd);
                m_path = std::move(candidate);
                return;
            }
            const int err = errno;
            if (err == EACCES || err == EPERM) {
                // A plain overwrite might work here, but it would not be atomic: say what to fix.
                const std::string dir = parent_of(target);
                throw AppError(
                    fmt::format("Cannot write {}: its directory {} must be writable ({})",
                                decode_utf8_lossy(target),
                                decode_utf8_lossy(dir.empty() ? "." : dir), os_error_text(err)));
            }
            if (err != EEXIST || attempt == k_max_temp_attempts) throw SystemError(err);
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        m_fd.reset();
        if (!m_path.empty()) ::unlink(m_path.c_str());
    }

    int fd() const noexcept { return m_fd.get(); }

    /// Flushes the content to disk, closes the file and moves it to target: over whatever is
    /// there (replace), or only where nothing is (keep_existing), in which case a taken target
    /// gives false and the temporary file goes.
    bool commit(const std::string& target, WriteMode mode) {
        if (::fsync(m_fd.get()) != 0) throw SystemError(errno);
        // Linux releases the descriptor even when close reports EINTR; the data is synced.
        if (::close(m_fd.release()) != 0 && errno != EINTR) throw SystemError(errno);
        if (mode == WriteMode::replace) {
            if (::rename(m_path.c_str(), target.c_str()) != 0) throw SystemError(errno);
            m_path.clear();
            return true;
        }
        if (::renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
            0) {
            m_path.clear();
            return true;
        }
        if (errno == EEXIST) return false;
        if (errno != EINVAL && errno != ENOSYS) throw SystemError(errno);
        // Without the no-replace rename a hard link still refuses a taken name; the temporary
        // name is removed by the destructor.
        if (::link(m_path.c_str(), target.c_str()) == 0) return true;
        if (errno == EEXIST) return false;
        throw SystemError(errno);
    }

  private:
    UniqueFd m_fd;
    std::string m_path;
};

/// The replacement looks like the old file: same owner where allowed, same permission bits.
void copy_owner_and_mode(int fd, const struct stat& old) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Only a privileged writer may give a file away; otherwise the writer owns the new file.
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) throw SystemError(errno);
}

/// Devices and pipes (say /dev/stdout) cannot be replaced by a rename; they are written through.
void write_through(const std::string& path, const struct stat& status, std::string_view text) {
    if (S_ISDIR(status.st_mode)) throw SystemError(EISDIR);
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY));
    if (!fd) throw SystemError(errno);
    write_all(fd.get(), text);
    if (::close(fd.release()) != 0 && errno != EINTR) throw SystemError(errno);
}

/// Makes the rename itself durable; a file system that cannot sync a directory is no error.
void sync_directory(const std::string& dir) {
    UniqueFd fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
}

} // namespace

std::string render_config(const Settings& s) {
    std::string out;
    out.reserve(1024);
    append_line(out, "# glyphRain configuration");
    append_line(out, "# See: glyphRain --help");
    append_line(out, "");
    append_line(out, "# Window size in pixels, 96 to 1024 (96 and 128 are the classic sizes)");
    append_setting(out, s.size == k_default_size, "# size = 96", "size", s.size);
    append_line(out, "");
    append_line(out, "# Frame interval in milliseconds (10-1000)");
    append_setting(out, s.speed == k_default_speed, "# speed = 80", "speed", s.speed);
    append_line(out, "");
    append_line(out, "# Percentage of columns active at once (1-100)");
    append_setting(out, s.density == k_default_density, "# density = 75", "density", s.density);
    append_line(out, "");
    append_line(out, "# Font file path (leave commented for auto-detect via fontconfig)");
    append_line(out, "# A CJK-capable font is preferred for Japanese characters");
    append_text_setting(out, "# font = /path/to/font.ttf", "font", s.font);
    append_line(out, "");
    append_line(out, "# Color theme: zenburn");
    append_text_setting(out, "# theme =", "theme", s.theme);
    append_line(out, "");
    append_line(out, "# Head color (R, G, B) \u2014 bright leading character");
    append_rgb_setting(out, "# color = 180, 255, 180", "color", s.color, k_default_color);
    append_line(out, "");
    append_line(out, "# Trail color (R, G, B) \u2014 fading trail characters");
    append_rgb_setting(out, "# trail_color = 0, 200, 0", "trail_color", s.trail_color,
                       k_default_trail_color);
    append_line(out, "");
    append_line(out, "# Left click command");
    append_text_setting(out, "# left_click =", "left_click", s.left_click);
    append_line(out, "");
    append_line(out, "# Middle click command (default: reload config)");
    append_text_setting(out, "# middle_click =", "middle_click", s.middle_click);
    append_line(out, "");
    append_line(out, "# Right click command");
    append_text_setting(out, "# right_click =", "right_click", s.right_click);
    append_line(out, "");
    append_line(out, "# Enable verbose output");
    append_setting(out, !s.verbose, "# verbose = false", "verbose", "true");
    append_line(out, "");
    append_line(out, "# Suppress informational output");
    append_setting(out, !s.quiet, "# quiet = false", "quiet", "true");
    append_line(out, "");
    append_line(out, "# Run in the background");
    // The commented form reads "= true" on purpose: it shows what to write to switch it on.
    append_setting(out, !s.background, "# background = true", "background", "true");
    return out;
}

bool write_config(const std::string& path, const Settings& settings, WriteMode mode) {
    check_text_value("font", settings.font);
    check_text_value("theme", settings.theme);
    check_text_value("left_click", settings.left_click);
    check_text_value("middle_click", settings.middle_click);
    check_text_value("right_click", settings.right_click);
    const std::string text = render_config(settings);

    if (path.empty()) throw SystemError(ENOENT);
    // A name ending in "/" can only be a directory; refuse before creating any.
    if (path.ends_with('/')) throw SystemError(EISDIR);
    create_directories(parent_of(path));

    WriteTarget target = resolve_target(path);
    const bool replacing = mode == WriteMode::replace && target.status;
    if (target.status && !S_ISREG(target.status->st_mode)) {
        if (mode == WriteMode::keep_existing) return false;
        write_through(path, *target.status, text);
        return true;
    }
    // A file the user made read-only stays protected, as it would be from a plain open.
    if (replacing && ::access(target.path.c_str(), W_OK) != 0) throw SystemError(errno);

    TempFile temp(target.path);
    if (replacing) copy_owner_and_mode(temp.fd(), *target.status);
    write_all(temp.fd(), text);
    if (!temp.commit(target.path, mode)) return false;
    sync_directory(parent_of(target.path));
    return true;
}

bool ask_yes(std::string_view answer) noexcept {
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

int save_config_interactively(const std::string& target, const Settings& settings) {
    const std::string shown = decode_utf8_lossy(target);
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        std::string answer =
            prompt_line(fmt::format("Config already exists at {}. Overwrite? [y/N] ", shown));
        if (!ask_yes(answer)) {
            print_stderr("Aborted.\n");
            return 0;
        }
    }
    write_config(target, settings);
    print_stderr("Config written to {}\n", shown);
    return 0;
}

void write_default_config_if_missing(const ArgList& args, const Settings& settings) noexcept {
    try {
        std::optional<std::string> path = config_path(args);
        struct stat st {};
        if (!path || ::stat(path->c_str(), &st) == 0) return;
        try {
            // The user (or an editor saving by rename) may have made the file meanwhile: theirs
            // wins, and the reload reads it.
            if (!write_config(*path, settings, WriteMode::keep_existing)) return;
        } catch (const std::exception& e) {
            print_stderr("glyphRain: failed to write config: {}\n", e.what());
            return;
        }
        if (!settings.quiet)
            print_stderr("glyphRain: wrote default config to {}\n", decode_utf8_lossy(*path));
    } catch (...) {
        // Only memory can run out here; the reload that called this goes on regardless.
    }
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Replacement of a file through a temporary file beside it, renamed into place once its content is
// on disk.
#include "system/replace_file.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include <fmt/format.h>

#include "system/error.hpp"
#include "system/file.hpp"
#include "system/path.hpp"
#include "system/text.hpp"
#include "system/unique_fd.hpp"

namespace glyphrain {
namespace {

int rename_noreplace(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

RenameNoReplace g_rename_noreplace = rename_noreplace;

constexpr int k_max_symlink_hops = 40;
constexpr int k_max_temp_attempts = 100;
constexpr std::size_t k_max_temp_base_bytes = 100; // keeps the temporary name under NAME_MAX

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
        create_directories(parent_directory(dir));
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
        current = next.starts_with('/') ? next : join_path(parent_directory(current), next);
    }
}

/// A temporary file beside the target; removed again unless it was renamed into place.
class TempFile {
  public:
    explicit TempFile(const std::string& target) {
        std::string prefix =
            join_path(parent_directory(target),
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
                const std::string dir = parent_directory(target);
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
        if (g_rename_noreplace(m_path.c_str(), target.c_str()) == 0) {
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

RenameNoReplace swap_rename_noreplace(RenameNoReplace replacement) noexcept {
    return std::exchange(g_rename_noreplace, replacement);
}

bool replace_file(const std::string& path, std::string_view text, WriteMode mode) {
    if (path.empty()) throw SystemError(ENOENT);
    // A name ending in "/" can only be a directory; refuse before creating any.
    if (path.ends_with('/')) throw SystemError(EISDIR);
    create_directories(parent_directory(path));

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
    sync_directory(parent_directory(target.path));
    return true;
}

} // namespace glyphrain

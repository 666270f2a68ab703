// SPDX-License-Identifier: MIT
// Replacing a file through a temporary file: directories, modes, links, failures, no-replace
// publishing and files that cannot be replaced by a rename.
#include "system/replace_file.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"
#include "system/error.hpp"

namespace glyphrain {
namespace {

namespace fs = std::filesystem;

// Longer than the file size limit that makes a write fail part-way.
const std::string k_text = "# replaced\n" + std::string(200, '#') + "\n";

mode_t mode_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class ReplaceFileTest : public ::testing::Test {
  protected:
    void SetUp() override { m_old_umask = ::umask(022); }
    void TearDown() override { ::umask(m_old_umask); }

    test::TempDir m_dir;
    mode_t m_old_umask = 0;
};

TEST_F(ReplaceFileTest, CreatesMissingDirectoriesAndFileUnderTheUmask) {
    ::umask(027);
    const std::string path = m_dir.file("a/b/glyphRain/config");
    replace_file(path, k_text);
    EXPECT_EQ(test::read_file(path), k_text);
    EXPECT_EQ(mode_of(m_dir.file("a")), 0750u);
    EXPECT_EQ(mode_of(m_dir.file("a/b/glyphRain")), 0750u);
    EXPECT_EQ(mode_of(path), 0640u);
    EXPECT_EQ(test::directory_entries(m_dir.file("a/b/glyphRain")),
              std::vector<std::string>{"config"});
}

TEST_F(ReplaceFileTest, ReplacesAnExistingFileKeepingItsPermissionBits) {
    const std::string path = m_dir.file("config");
    test::write_file(path, "size = 512\n" + std::string(5000, '#'));
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    replace_file(path, k_text);
    EXPECT_EQ(test::read_file(path), k_text);
    EXPECT_EQ(mode_of(path), 0604u);
    EXPECT_EQ(test::directory_entries(m_dir.path()), std::vector<std::string>{"config"});
}

TEST_F(ReplaceFileTest, FollowsSymbolicLinksAndKeepsThem) {
    fs::create_directories(m_dir.file("real"));
    fs::create_directories(m_dir.file("links"));
    test::write_file(m_dir.file("real/config"), "old");
    ASSERT_EQ(::chmod(m_dir.file("real/config").c_str(), 0600), 0);
    fs::create_symlink("../real/config", m_dir.file("links/hop"));
    fs::create_symlink("hop", m_dir.file("links/config"));
    // A dangling link is followed too: the file appears where it points.
    fs::create_symlink("../real/fresh", m_dir.file("links/dangling"));

    replace_file(m_dir.file("links/config"), k_text);
    replace_file(m_dir.file("links/dangling"), k_text);

    EXPECT_TRUE(fs::is_symlink(m_dir.file("links/config")));
    EXPECT_TRUE(fs::is_symlink(m_dir.file("links/dangling")));
    EXPECT_EQ(test::read_file(m_dir.file("real/config")), k_text);
    EXPECT_EQ(test::read_file(m_dir.file("real/fresh")), k_text);
    EXPECT_EQ(mode_of(m_dir.file("real/config")), 0600u);
    EXPECT_EQ(test::directory_entries(m_dir.file("real")),
              (std::vector<std::string>{"config", "fresh"}));
    EXPECT_EQ(test::directory_entries(m_dir.file("links")),
              (std::vector<std::string>{"config", "dangling", "hop"}));
}

TEST_F(ReplaceFileTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
    const std::string path = m_dir.file("config");
    test::write_file(path, "size = 512\n");
    // A file size limit makes the write fail part-way, whatever the user's privileges.
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit{};
    ::getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &small);
    int code = 0;
    try {
        replace_file(path, k_text);
    } catch (const SystemError& e) {
        code = e.code();
    }
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(code, EFBIG);
    EXPECT_EQ(test::read_file(path), "size = 512\n");
    EXPECT_EQ(test::directory_entries(m_dir.path()), std::vector<std::string>{"config"});
}

/// How the no-replace rename behaves: the kernel's, or refused as by a file system without it.
struct NoReplaceCase {
    std::string name;
    RenameNoReplace rename; // nullptr: the kernel's
    friend void PrintTo(const NoReplaceCase& c, std::ostream* os) { *os << c.name; }
};

class KeepExistingTest : public ReplaceFileTest,
                         public ::testing::WithParamInterface<NoReplaceCase> {
  protected:
    void SetUp() override {
        ReplaceFileTest::SetUp();
        m_kernel_rename = swap_rename_noreplace(nullptr);
        swap_rename_noreplace(GetParam().rename ? GetParam().rename : m_kernel_rename);
    }
    void TearDown() override {
        swap_rename_noreplace(m_kernel_rename);
        ReplaceFileTest::TearDown();
    }
    RenameNoReplace m_kernel_rename = nullptr;
};

TEST_P(KeepExistingTest, PublishesOnlyWhereNoFileIs) {
    const std::string path = m_dir.file("config");
    EXPECT_TRUE(replace_file(path, k_text, WriteMode::keep_existing));
    EXPECT_EQ(test::read_file(path), k_text);
    EXPECT_EQ(test::directory_entries(m_dir.path()), std::vector<std::string>{"config"});
    // A file that is there when the default is moved into place wins, even a read-only one.
    test::write_file(path, "size = 512\n");
    ASSERT_EQ(::chmod(path.c_str(), 0400), 0);
    EXPECT_FALSE(replace_file(path, k_text, WriteMode::keep_existing));
    EXPECT_EQ(test::read_file(path), "size = 512\n");
    EXPECT_EQ(test::directory_entries(m_dir.path()), std::vector<std::string>{"config"});
}

int refuse_einval(const char*, const char*) {
    errno = EINVAL;
    return -1;
}

int refuse_enosys(const char*, const char*) {
    errno = ENOSYS;
    return -1;
}

INSTANTIATE_TEST_SUITE_P(
    Renames, KeepExistingTest,
    ::testing::Values(NoReplaceCase{"kernel", nullptr},
                      NoReplaceCase{"flag_unsupported_by_file_system", refuse_einval},
                      NoReplaceCase{"call_unknown_to_kernel", refuse_enosys}),
    [](const ::testing::TestParamInfo<NoReplaceCase>& param) { return param.param.name; });

/// Runs as an unprivileged user while it lives when the test runs as root, who passes every
/// permission check.
class UnprivilegedScope {
  public:
    UnprivilegedScope() : m_dropped(::geteuid() == 0 && ::seteuid(65534) == 0) {}
    ~UnprivilegedScope() {
        // The rest of the suite would run unprivileged and fail in confusing ways.
        if (m_dropped && ::seteuid(0) != 0) std::abort();
    }
    UnprivilegedScope(const UnprivilegedScope&) = delete;
    UnprivilegedScope& operator=(const UnprivilegedScope&) = delete;

  private:
    bool m_dropped;
};

TEST_F(ReplaceFileTest, UnwritableDirectoryIsNamedAndTheFileKept) {
    const std::string dir = m_dir.file("locked");
    const std::string path = dir + "/config";
    fs::create_directories(dir);
    test::write_file(path, "size = 512\n");
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    std::string message;
    {
        UnprivilegedScope unprivileged;
        if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 ||
            ::faccessat(AT_FDCWD, dir.c_str(), W_OK, AT_EACCESS) == 0) {
            ::chmod(dir.c_str(), 0755);
            GTEST_SKIP() << "no unprivileged user can reach " << path;
        }
        try {
            replace_file(path, k_text);
        } catch (const AppError& e) {
            message = e.what();
        }
    }
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    EXPECT_EQ(message, "Cannot write " + path + ": its directory " + dir + " must be writable (" +
                           os_error_text(EACCES) + ")");
    EXPECT_EQ(test::read_file(path), "size = 512\n");
    EXPECT_EQ(test::directory_entries(dir), std::vector<std::string>{"config"});
}

struct BadPathCase {
    std::string name;
    std::string relative; // under the temporary directory; "" means the empty path itself
    int error;
    friend void PrintTo(const BadPathCase& c, std::ostream* os) { *os << c.name; }
};

class ReplaceFileBadPathTest : public ::testing::TestWithParam<BadPathCase> {};

TEST_P(ReplaceFileBadPathTest, FailsWithTheSystemErrorAndCreatesNothing) {
    test::TempDir dir;
    test::write_file(dir.file("plain"), "x");
    fs::create_directories(dir.file("sub"));
    const std::string path = GetParam().relative.empty() ? "" : dir.file(GetParam().relative);
    try {
        replace_file(path, k_text);
        ADD_FAILURE() << "no error for " << path;
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), GetParam().error);
    }
    EXPECT_EQ(test::directory_entries(dir.path()), (std::vector<std::string>{"plain", "sub"}));
    EXPECT_TRUE(test::directory_entries(dir.file("sub")).empty());
    EXPECT_EQ(test::read_file(dir.file("plain")), "x");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceFileBadPathTest,
    ::testing::Values(BadPathCase{"file_in_the_way", "plain/glyphRain/config", ENOTDIR},
                      BadPathCase{"file_as_parent", "plain/config", ENOTDIR},
                      BadPathCase{"directory_target", "sub", EISDIR},
                      BadPathCase{"trailing_slash", "new/", EISDIR},
                      BadPathCase{"empty_path", "", ENOENT}),
    [](const ::testing::TestParamInfo<BadPathCase>& param) { return param.param.name; });

TEST(ReplaceFile, WritesThroughPipesInsteadOfReplacingThem) {
    test::TempDir dir;
    const std::string path = dir.file("fifo");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // A reader must be there first, or opening the pipe for writing would wait for one.
    int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    replace_file(path, k_text);
    std::string received(2048, '\0');
    ssize_t n = ::read(reader, received.data(), received.size());
    ::close(reader);
    received.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_EQ(received, k_text);
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(test::directory_entries(dir.path()), std::vector<std::string>{"fifo"});
}

} // namespace
} // namespace glyphrain

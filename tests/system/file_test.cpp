// SPDX-License-Identifier: MIT
#include "system/file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"
#include "system/error.hpp"

namespace glyphrain {
namespace {

using test::TempDir;

TEST(ReadRegularFile, ReadsWholeFilesAndRejectsEverythingElse) {
    TempDir dir;
    test::write_file(dir.file("a"), std::string("x\0y", 3));
    test::write_file(dir.file("empty"), "");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);

    EXPECT_EQ(read_regular_file(dir.file("a"), 3), std::string("x\0y", 3));
    EXPECT_EQ(read_regular_file(dir.file("empty"), 0), "");
    EXPECT_FALSE(read_regular_file(dir.file("a"), 2)); // larger than allowed
    EXPECT_FALSE(read_regular_file(dir.file("missing"), 100));
    EXPECT_FALSE(read_regular_file(dir.path(), 100));       // a directory
    EXPECT_FALSE(read_regular_file(dir.file("fifo"), 100)); // would block forever
    EXPECT_FALSE(read_regular_file("/dev/zero", 100));      // would never end
    // Reports a size of 0 but holds more: the read itself must stop at the limit.
    EXPECT_FALSE(read_regular_file("/proc/self/status", 16));
}

TEST(WriteAll, WritesEverythingOrThrows) {
    TempDir dir;
    int fd = ::open(dir.file("out").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    std::string big(1 << 20, 'q');
    write_all(fd, big);
    ::close(fd);
    EXPECT_EQ(test::read_file(dir.file("out")), big);
    EXPECT_THROW(write_all(-1, "x"), SystemError);
}

} // namespace
} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Counts the frames a running glyphRain sends, for bench/frame_cost.sh: preloaded into it, this
// wraps xcb_flush (one per frame sent) and keeps the count in the 8-byte file that
// GLYPHRAIN_FLUSH_COUNT names, which the script reads while the program runs.
#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

struct xcb_connection_t;

namespace {

using Flush = int (*)(xcb_connection_t*);
Flush real_flush = nullptr;
volatile std::uint64_t* flushes = nullptr;

__attribute__((constructor)) void open_count() {
    real_flush = reinterpret_cast<Flush>(::dlsym(RTLD_NEXT, "xcb_flush"));
    const char* path = std::getenv("GLYPHRAIN_FLUSH_COUNT");
    if (path == nullptr) return;
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (::ftruncate(fd, sizeof(std::uint64_t)) == 0) {
        void* memory =
            ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory != MAP_FAILED) flushes = static_cast<volatile std::uint64_t*>(memory);
    }
    ::close(fd);
}

} // namespace

extern "C" int xcb_flush(xcb_connection_t* c) {
    if (flushes != nullptr) *flushes = *flushes + 1;
    return real_flush(c);
}

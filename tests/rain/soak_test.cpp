// SPDX-License-Identifier: MIT
// Long runs of the frame path with a real font's atlas: heap and resident memory must not grow,
// and under AddressSanitizer nothing may leak or be touched out of bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <malloc.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "glyphs/load_glyphs.hpp"
#include "rain/compositor.hpp"
#include "rain/rain_state.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define GLYPHRAIN_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GLYPHRAIN_SOAK_ASAN 1
#endif
#endif

#ifdef GLYPHRAIN_SOAK_ASAN
#include <sanitizer/lsan_interface.h>
// The allocator's own count; GCC ships no header for it, but its runtime exports it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace glyphrain {
namespace {

const std::string k_vl_gothic = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf";
const std::string k_dejavu_mono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

#ifdef GLYPHRAIN_SOAK_ASAN
/// Frames of the unoptimized sanitizer build are a hundred times dearer or more, so its counts
/// are divided by this unless GLYPHRAIN_SOAK_FULL is set in the environment.
constexpr std::uint64_t k_sanitizer_divisor = 200;
#endif

std::uint64_t frames_to_run(std::uint64_t full) {
#ifdef GLYPHRAIN_SOAK_ASAN
    if (std::getenv("GLYPHRAIN_SOAK_FULL") == nullptr) return full / k_sanitizer_divisor;
#endif
    return full;
}

/// Bytes handed out by the allocator and not yet freed.
std::uint64_t heap_in_use() {
#ifdef GLYPHRAIN_SOAK_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

/// VmRSS from /proc/self/statm, read without stdio so that measuring allocates nothing.
std::uint64_t resident_bytes() {
    char text[128] = {};
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    unsigned long pages = 0, resident = 0;
    if (n <= 0 || std::sscanf(text, "%lu %lu", &pages, &resident) != 2) return 0;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

struct SoakCase {
    std::uint64_t size;
    std::uint64_t frames;
};

class Soak : public testing::TestWithParam<SoakCase> {};

TEST_P(Soak, FramesKeepMemoryFlat) {
    const SoakCase c = GetParam();
    Settings settings;
    settings.size = c.size;
    settings.quiet = true;
    // The kana font gives a realistic atlas; DejaVu (glyph 0 for every kana) is always installed.
    settings.font = ::access(k_vl_gothic.c_str(), R_OK) == 0 ? k_vl_gothic : k_dejavu_mono;
    const AtlasBuild build = load_glyphs(settings);
    RainState rain(build.cols, build.rows, k_glyph_count, 0x5EED);
    FrameBuffer buffer(c.size, c.size);

    const std::uint64_t frames = frames_to_run(c.frames);
    // The warm-up runs every variation of the loop below at least once, so that the buffer's
    // pages and every code path are resident before the first measurement.
    constexpr std::uint64_t warm_up = 200;
    // Measuring once first brings the measuring code itself (libc's scanf) into memory.
    std::uint64_t heap_before = heap_in_use(), rss_before = resident_bytes();
    for (std::uint64_t frame = 0; frame < frames; ++frame) {
        if (frame == warm_up) {
            heap_before = heap_in_use();
            rss_before = resident_bytes();
        }
        // Density and theme change as reloads would change them, at the frame a reload lands.
        settings.density = 1 + static_cast<std::uint32_t>(frame % 100);
        if (frame % 50 == 0) settings.theme = frame / 50 % 2 ? "zenburn" : "plain";
        rain.step_rain(settings.density);
        compose_frame(buffer, rain, build.atlas, settings, frame % 2 == 0);
    }
    const std::uint64_t heap_after = heap_in_use();
    const std::uint64_t rss_after = resident_bytes();

    // The theme strings above are short enough for the small-string buffer: no frame allocates.
    EXPECT_EQ(heap_after, heap_before);
    EXPECT_LT(rss_after, rss_before + 65536)
        << "resident memory grew from " << rss_before << " to " << rss_after << " bytes";
    std::uint64_t checksum = 0;
    for (std::uint8_t byte : buffer.bytes())
        checksum += byte;
    EXPECT_GT(checksum, 0u); // the bevel alone is never black
#ifdef GLYPHRAIN_SOAK_ASAN
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

INSTANTIATE_TEST_SUITE_P(Sizes, Soak,
                         testing::Values(SoakCase{96, 1000000}, SoakCase{1024, 100000}),
                         [](const testing::TestParamInfo<SoakCase>& p) {
                             return "Size" + std::to_string(p.param.size);
                         });

} // namespace
} // namespace glyphrain

// SPDX-License-Identifier: MIT
// A frame must not allocate: counts calls to the global operator new around step and compose,
// full or partial.
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "rain/compositor.hpp"
#include "rain/partial_compositor.hpp"
#include "rain/rain_state.hpp"

namespace {
std::size_t g_allocations = 0;
} // namespace

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace glyphrain {
namespace {

TEST(Frame, StepAndComposeAllocateNothing) {
    GlyphAtlas atlas;
    atlas.cell_width = 9;
    atlas.cell_height = 12;
    atlas.ascent = 9;
    for (std::size_t i = 0; i < k_glyph_count; ++i) {
        GlyphBitmap bitmap;
        bitmap.width = 1 + i % 9;
        bitmap.height = 1 + i % 11;
        bitmap.coverage.assign(bitmap.width * bitmap.height, static_cast<std::uint8_t>(i));
        atlas.glyphs.push_back(std::move(bitmap));
    }
    RainState rain(9, 7, k_glyph_count, 42);
    FrameBuffer buffer(96, 96);
    Settings settings;
    settings.theme = "zenburn";

    // Built at start-up, like the buffers; composing into two buffers in turn, now and then
    // forgetting what they hold, must allocate nothing.
    PartialCompositor partial(atlas, 9, 7, 2);
    FrameBuffer segments[2] = {FrameBuffer(96, 96), FrameBuffer(96, 96)};
    const std::size_t before = g_allocations;
    for (int frame = 0; frame < 500; ++frame) {
        rain.step_rain(75);
        compose_frame(buffer, rain, atlas, settings, frame % 2 == 0);
        if (frame % 97 == 0) partial.mark_all_changed();
        if (frame % 89 == 0) partial.mark_window_changed();
        const auto index = static_cast<std::size_t>(frame % 2);
        (void)partial.compose_changed(segments[index], index, rain, settings, true);
    }
    EXPECT_EQ(g_allocations, before);
}

} // namespace
} // namespace glyphrain

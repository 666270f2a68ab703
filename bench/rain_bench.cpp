// SPDX-License-Identifier: MIT
// Cost of one rain step and one composed frame per window size, whole or by changes, against a
// bare clear of the same buffer. Uses the VL Gothic atlas when the font loads, else plausible
// synthetic glyphs.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <vector>

#include <benchmark/benchmark.h>

#include "config/settings.hpp"
#include "glyphs/load_glyphs.hpp"
#include "rain/compositor.hpp"
#include "rain/partial_compositor.hpp"
#include "rain/rain_state.hpp"

namespace {

using namespace glyphrain;

constexpr const char* k_font_path = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf";
constexpr std::uint64_t k_seed = 0x5EED'1234'ABCDull;
constexpr int k_warm_up_steps = 500;

// Kana-like bitmaps: a few anti-aliased strokes over roughly four fifths of the em square.
AtlasBuild synthetic_atlas(std::size_t size) {
    const float font_px = static_cast<float>(size) / 96.0f * 9.0f;
    AtlasBuild build;
    GlyphAtlas& atlas = build.atlas;
    atlas.cell_width = static_cast<std::size_t>(std::ceil(font_px));
    atlas.ascent = static_cast<std::int32_t>(std::ceil(font_px * 0.86f));
    atlas.cell_height = atlas.ascent + static_cast<std::int32_t>(std::ceil(font_px * 0.14f));
    const auto extent = static_cast<std::size_t>(std::ceil(font_px * 0.8f));
    const std::size_t stroke = std::max<std::size_t>(1, extent / 8);
    Xorshift64 rng{7};
    for (std::size_t g = 0; g < k_glyph_count; ++g) {
        GlyphBitmap bitmap;
        bitmap.width = extent;
        bitmap.height = extent;
        bitmap.xmin = static_cast<std::int32_t>((atlas.cell_width - extent) / 2);
        bitmap.ymin = -static_cast<std::int32_t>(extent / 10);
        bitmap.coverage.assign(extent * extent, 0);
        for (int s = 0; s < 4; ++s) {
            const bool horizontal = rng.next_u64() % 2 == 0;
            const std::size_t at = rng.next_u64() % (extent - stroke + 1);
            for (std::size_t a = 0; a < extent; ++a)
                for (std::size_t b = at; b < at + stroke; ++b) {
                    const std::size_t x = horizontal ? a : b, y = horizontal ? b : a;
                    const bool edge = b == at || b + 1 == at + stroke;
                    bitmap.coverage[y * extent + x] =
                        edge ? static_cast<std::uint8_t>(64 + rng.next_u64() % 160) : 255;
                }
        }
        atlas.glyphs.push_back(std::move(bitmap));
    }
    build.cols = (size - 8) / atlas.cell_width;
    build.rows = (size - 8) / static_cast<std::size_t>(atlas.cell_height);
    return build;
}

AtlasBuild bench_atlas(std::size_t size, benchmark::State& state) {
    Settings settings;
    settings.font = k_font_path;
    settings.quiet = true;
    settings.size = size;
    try {
        AtlasBuild build = load_glyphs(settings);
        state.SetLabel("VL Gothic");
        return build;
    } catch (const std::exception&) {
        state.SetLabel("synthetic glyphs");
        return synthetic_atlas(size);
    }
}

RainState warm_rain(const AtlasBuild& build) {
    RainState rain(build.cols, build.rows, k_glyph_count, k_seed);
    for (int i = 0; i < k_warm_up_steps; ++i)
        rain.step_rain(k_default_density);
    return rain;
}

void BM_step_rain(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const AtlasBuild build = bench_atlas(size, state);
    RainState rain = warm_rain(build);
    for (auto _ : state) {
        rain.step_rain(k_default_density);
        benchmark::ClobberMemory();
    }
}

void BM_compose_frame(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const AtlasBuild build = bench_atlas(size, state);
    const RainState rain = warm_rain(build);
    FrameBuffer buffer(size, size);
    const Settings settings;
    for (auto _ : state) {
        compose_frame(buffer, rain, build.atlas, settings, true);
        benchmark::DoNotOptimize(buffer.bytes().data());
        benchmark::ClobberMemory();
    }
}

// One step and the frame composed by changes, in steady state, into one client buffer (1) or two
// shared segments in turn (2). "sent" is the share of the window's pixels in the rectangles,
// "rects" their number per frame.
void BM_compose_changed(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto buffers = static_cast<std::size_t>(state.range(1));
    const AtlasBuild build = bench_atlas(size, state);
    RainState rain = warm_rain(build);
    const Settings settings;
    PartialCompositor partial(build.atlas, build.cols, build.rows, buffers);
    std::vector<FrameBuffer> frames;
    for (std::size_t i = 0; i < buffers; ++i)
        frames.emplace_back(size, size);
    std::size_t frame = 0;
    const auto compose_next = [&] {
        const std::size_t index = frame++ % buffers;
        rain.step_rain(k_default_density);
        return partial.compose_changed(frames[index], index, rain, settings, true);
    };
    for (std::size_t i = 0; i < 2 * buffers; ++i)
        compose_next();
    double sent = 0, rects = 0;
    for (auto _ : state) {
        for (const PixelRect& rect : compose_next()) {
            sent += static_cast<double>(rect.width) * rect.height;
            ++rects;
        }
        benchmark::ClobberMemory();
    }
    const auto composed = static_cast<double>(state.iterations());
    state.counters["sent"] = sent / static_cast<double>(size * size) / composed;
    state.counters["rects"] = rects / composed;
}

// The floor: clearing the same buffer and nothing else.
void BM_clear_frame(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    FrameBuffer buffer(size, size);
    for (auto _ : state) {
        std::memset(buffer.bytes().data(), 0, buffer.bytes().size());
        benchmark::DoNotOptimize(buffer.bytes().data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_step_rain)->Arg(96)->Arg(128)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_compose_frame)->Arg(96)->Arg(128)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_compose_changed)->ArgsProduct({{96, 256, 512, 1024}, {1, 2}});
BENCHMARK(BM_clear_frame)->Arg(96)->Arg(128)->Arg(256)->Arg(512)->Arg(1024);

} // namespace

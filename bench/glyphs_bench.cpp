// SPDX-License-Identifier: MIT
// Cost of the start-up font work: map and parse the font, rasterize and mirror the 172 kana, let
// the font go. Reports milliseconds per build and the resident memory around it.
#include <cstdio>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>

#include "glyphs/atlas_builder.hpp"
#include "glyphs/font.hpp"

namespace {

using namespace glyphrain;

const std::string k_noto_cjk = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";
const std::string k_vl_gothic = "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf";

/// A field of /proc/self/status in KiB (VmRSS, VmHWM), or -1 when it cannot be read.
double status_kib(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (!status) return -1;
    char line[256];
    double kib = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            kib = std::strtod(line + length + 1, nullptr);
            break;
        }
    }
    std::fclose(status);
    return kib;
}

/// Restarts the peak resident size (VmHWM) from the current one, so each case sees its own peak.
void reset_peak_rss() {
    if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "we")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

AtlasBuild build(const std::string& path, std::uint64_t size) {
    LoadedFont font = load_font(read_font_file(path));
    return build_atlas(font, size, true);
}

void BM_font_and_atlas(benchmark::State& state, const std::string& path) {
    const auto size = static_cast<std::uint64_t>(state.range(0));
    try {
        read_font_file(path);
    } catch (const std::exception&) {
        state.SkipWithError((path + " is not installed").c_str());
        return;
    }
    const double base_kib = status_kib("VmRSS");
    reset_peak_rss();
    for (auto _ : state)
        benchmark::DoNotOptimize(build(path, size));
    // What stays once start-up is over: the atlas alone, the font unmapped and freed.
    AtlasBuild kept = build(path, size);
    benchmark::DoNotOptimize(kept);
    constexpr double k_mib = 1024;
    state.counters["base_rss_MiB"] = base_kib / k_mib;
    state.counters["peak_rss_MiB"] = status_kib("VmHWM") / k_mib;
    state.counters["steady_rss_MiB"] = status_kib("VmRSS") / k_mib;
}

BENCHMARK_CAPTURE(BM_font_and_atlas, noto_cjk, k_noto_cjk)
    ->Arg(96)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_font_and_atlas, vl_gothic, k_vl_gothic)
    ->Arg(96)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond);

} // namespace

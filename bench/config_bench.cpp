// SPDX-License-Identifier: MIT
// Cost of deriving the settings from a typical configuration file (done at start and per reload).
#include <benchmark/benchmark.h>

#include "config/settings.hpp"

namespace {

const char* const k_typical_file = "# glyphRain configuration\n"
                                   "size = 128\n"
                                   "speed = 60\n"
                                   "density = 80\n"
                                   "theme = zenburn\n"
                                   "color = 10, 20, 30\n"
                                   "left_click = xterm -e top\n"
                                   "quiet = true\n";

void BM_parse_config(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(glyphrain::parse_config(k_typical_file));
}
BENCHMARK(BM_parse_config);

} // namespace

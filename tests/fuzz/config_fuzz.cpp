// SPDX-License-Identifier: MIT
// Arbitrary configuration file contents: never crash, never store a value out of range.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/settings.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace glyphrain;
    Settings s = parse_config(std::string_view(reinterpret_cast<const char*>(data), size));
    if (s.size < k_min_size || s.size > k_max_size) std::abort();
    if (s.speed < k_min_speed || s.speed > k_max_speed) std::abort();
    if (s.density < k_min_density || s.density > k_max_density) std::abort();
    // Text values come from single trimmed lines: never empty, never a line break.
    for (const auto* text : {&s.font, &s.theme, &s.left_click, &s.middle_click, &s.right_click}) {
        if (*text && ((*text)->empty() || (*text)->find('\n') != std::string::npos)) std::abort();
    }
    return 0;
}

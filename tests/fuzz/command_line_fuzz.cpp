// SPDX-License-Identifier: MIT
// Arbitrary argument lists (NUL-separated): the option check, the overrides and --dock.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/command_line.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace glyphrain;
    ArgList args{"glyphRain"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    args.push_back(current);

    (void)find_unknown_option(args);
    (void)dock_slit_from_args(args);
    Settings s;
    apply_command_line(s, args);
    if (s.size < k_min_size || s.size > k_max_size) std::abort();
    if (s.speed < k_min_speed || s.speed > k_max_speed) std::abort();
    if (s.density < k_min_density || s.density > k_max_density) std::abort();
    return 0;
}

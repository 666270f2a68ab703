// SPDX-License-Identifier: MIT
// The unsigned number rule and colour parsing against a plain reference.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/settings.hpp"

namespace {

/// Reference: optional '+', at least one digit, value fits 64 bits.
bool reference_u64(std::string_view text, unsigned __int128& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > UINT64_MAX) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace glyphrain;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    unsigned __int128 value = 0;
    bool ok = reference_u64(text, value);
    auto u64 = parse_u64(text);
    if (u64.has_value() != ok || (ok && *u64 != value)) std::abort();
    auto u32 = parse_u32(text);
    if (u32.has_value() != (ok && value <= UINT32_MAX)) std::abort();
    auto u8 = parse_u8(text);
    if (u8.has_value() != (ok && value <= UINT8_MAX)) std::abort();
    (void)parse_rgb(text);
    return 0;
}

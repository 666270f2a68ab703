// SPDX-License-Identifier: MIT
// UTF-8 decoding shared by the configuration reader, the wizard and font discovery.
#include "system/text.hpp"

#include <cstdint>

namespace glyphrain {
namespace {

constexpr char32_t k_invalid = 0xFFFFFFFF;

/// Decodes one code point at text[pos]; sets len to the bytes it spans (the length of the
/// maximal invalid subpart when it returns k_invalid).
char32_t decode_at(std::string_view text, std::size_t pos, std::size_t& len) noexcept {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t b0 = byte(pos);
    len = 1;
    if (b0 < 0x80) return b0;
    std::size_t need;
    char32_t cp;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return k_invalid;
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (pos + k >= text.size()) return k_invalid;
        std::uint8_t b = byte(pos + k);
        if (b < lo || b > hi) return k_invalid;
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        len = k + 1;
    }
    return cp;
}

bool is_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

} // namespace

bool is_valid_utf8(std::string_view text) noexcept {
    for (std::size_t pos = 0, len = 0; pos < text.size(); pos += len)
        if (decode_at(text, pos, len) == k_invalid) return false;
    return true;
}

std::string decode_utf8_lossy(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0, len = 0; pos < text.size(); pos += len) {
        if (decode_at(text, pos, len) == k_invalid)
            out += "\xEF\xBF\xBD";
        else
            out.append(text.substr(pos, len));
    }
    return out;
}

std::string_view trim_white_space(std::string_view text) noexcept {
    std::size_t begin = 0, len = 0;
    while (begin < text.size()) {
        char32_t c = decode_at(text, begin, len);
        if (c == k_invalid || !is_white_space(c)) break;
        begin += len;
    }
    std::size_t end = text.size();
    while (end > begin) {
        // Step back to the first byte of the last sequence: at most three continuation bytes.
        std::size_t start = end - 1;
        while (start > begin && end - start < 4 &&
               (static_cast<std::uint8_t>(text[start]) & 0xC0) == 0x80)
            --start;
        char32_t c = decode_at(text, start, len);
        if (c == k_invalid || start + len != end || !is_white_space(c)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

} // namespace glyphrain

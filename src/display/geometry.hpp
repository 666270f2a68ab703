// SPDX-License-Identifier: MIT
// The geometry that the rooms drawing into the display and the display itself agree on. Free of X
// and of any other header, so the glyph grid and the rain can use it without knowing the display.
#pragma once

#include <cstdint>

namespace glyphrain {

/// Width of the frame around the window's inside, in pixels: the input window starts this far in,
/// the bevel draws this many rings, and the glyph grid fits inside what is left.
inline constexpr std::uint16_t k_frame_px = 4;

/// Width and height in pixels.
struct Extent {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    friend bool operator==(const Extent&, const Extent&) = default;
};

/// A rectangle of the window in pixels; never empty, never outside the window. The compositor
/// lists the ones that changed, and only these are sent.
struct PixelRect {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

} // namespace glyphrain

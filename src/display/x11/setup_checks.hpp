// SPDX-License-Identifier: MIT
// What the connection set-up must offer before anything is created on the server: a screen, a
// 32-bit pixel format and a root visual that shows 0x00RRGGBB pixels as meant; and the texts of
// libxcb's connection errors.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

struct xcb_setup_t;
struct xcb_screen_t;

namespace glyphrain {

/// One pixmap format of the connection set-up.
struct PixmapFormat {
    std::uint8_t depth = 0;
    std::uint8_t bits_per_pixel = 0;
};

/// The frames are written as 32-bit pixels, so the first format listed for the root depth must
/// store 32 bits per pixel. Returns the error message when it does not; a root depth that no
/// format lists passes.
std::optional<std::string> pixel_format_check(std::span<const PixmapFormat> formats,
                                              std::uint8_t root_depth);

/// The class and channel masks of one visual, as the connection set-up lists them.
struct VisualFormat {
    std::uint8_t visual_class = 4; // X visual class; 4 is TrueColor
    std::uint32_t red_mask = 0xff0000;
    std::uint32_t green_mask = 0xff00;
    std::uint32_t blue_mask = 0xff;
};

/// The frames hold 0x00RRGGBB pixels, which only a TrueColor root visual with 8-bit channels at
/// those places shows as meant (a 30-bit visual would turn green into cyan). Returns the error
/// message for any other visual.
std::optional<std::string> visual_check(const VisualFormat& visual, std::uint8_t root_depth);

/// A readable description of an xcb connection error code (xcb_connection_has_error).
std::string describe_connection_error(int code);

/// The screen the display name selected, or nullptr when the set-up lists fewer screens.
const xcb_screen_t* screen_of(const xcb_setup_t& setup, int screen_number);

/// pixel_format_check, then visual_check of the screen's root visual (skipped when the set-up does
/// not list it); throws AppError with the first message.
void check_pixel_format(const xcb_setup_t& setup, const xcb_screen_t& screen);

} // namespace glyphrain

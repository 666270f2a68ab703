// SPDX-License-Identifier: MIT
// The checks of the connection set-up over libxcb's set-up data: they send no request.
#include "display/x11/setup_checks.hpp"

#include <iterator>
#include <vector>

#include <fmt/core.h>
#include <xcb/xcb.h>

#include "system/error.hpp"

namespace glyphrain {
namespace {

/// The class and masks of the screen's root visual; nothing when the set-up does not list it.
std::optional<VisualFormat> root_visual_of(const xcb_screen_t& screen) {
    for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(&screen); depth.rem > 0;
         xcb_depth_next(&depth)) {
        for (xcb_visualtype_iterator_t visual = xcb_depth_visuals_iterator(depth.data);
             visual.rem > 0; xcb_visualtype_next(&visual)) {
            if (visual.data->visual_id == screen.root_visual)
                return VisualFormat{visual.data->_class, visual.data->red_mask,
                                    visual.data->green_mask, visual.data->blue_mask};
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> pixel_format_check(std::span<const PixmapFormat> formats,
                                              std::uint8_t root_depth) {
    // The server's order matters: only the first format of the root depth is the one it uses.
    for (const PixmapFormat& format : formats) {
        if (format.depth != root_depth) continue;
        if (format.bits_per_pixel == 32) return std::nullopt;
        return fmt::format("Unsupported pixel format: {}bpp at depth {}. Expected 32bpp.",
                           format.bits_per_pixel, root_depth);
    }
    return std::nullopt;
}

std::optional<std::string> visual_check(const VisualFormat& visual, std::uint8_t root_depth) {
    constexpr std::uint8_t k_true_color = 4;
    if (visual.visual_class == k_true_color && visual.red_mask == 0xff0000 &&
        visual.green_mask == 0xff00 && visual.blue_mask == 0xff)
        return std::nullopt;
    static constexpr const char* k_class_names[] = {"StaticGray",  "GrayScale", "StaticColor",
                                                    "PseudoColor", "TrueColor", "DirectColor"};
    const std::string class_name = visual.visual_class < std::size(k_class_names)
                                       ? k_class_names[visual.visual_class]
                                       : fmt::format("class {}", visual.visual_class);
    return fmt::format("Unsupported pixel format: {} visual at depth {} with masks {:#x}, {:#x}, "
                       "{:#x}. Expected TrueColor with masks 0xff0000, 0xff00, 0xff.",
                       class_name, root_depth, visual.red_mask, visual.green_mask,
                       visual.blue_mask);
}

std::string describe_connection_error(int code) {
    switch (code) {
    case XCB_CONN_ERROR:
        return "socket or stream error";
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return "an extension the client needs is not supported";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
        return "out of memory";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
        return "a request is longer than the X server accepts";
    case XCB_CONN_CLOSED_PARSE_ERR:
        return "invalid display name";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return "the display has no such screen";
    case XCB_CONN_CLOSED_FDPASSING_FAILED:
        return "passing a file descriptor failed";
    default:
        return fmt::format("unknown connection error {}", code);
    }
}

const xcb_screen_t* screen_of(const xcb_setup_t& setup, int screen_number) {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(&setup);
    for (int i = 0; i < screen_number && it.rem > 0; ++i)
        xcb_screen_next(&it);
    return it.rem > 0 ? it.data : nullptr;
}

void check_pixel_format(const xcb_setup_t& setup, const xcb_screen_t& screen) {
    std::vector<PixmapFormat> formats;
    const xcb_format_t* raw_formats = xcb_setup_pixmap_formats(&setup);
    for (int i = 0; i < xcb_setup_pixmap_formats_length(&setup); ++i)
        formats.push_back({raw_formats[i].depth, raw_formats[i].bits_per_pixel});
    if (auto error = pixel_format_check(formats, screen.root_depth)) throw AppError(*error);
    if (auto visual = root_visual_of(screen))
        if (auto error = visual_check(*visual, screen.root_depth)) throw AppError(*error);
}

} // namespace glyphrain

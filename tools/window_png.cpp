// SPDX-License-Identifier: MIT
// Saves the glyphRain window (or a given window) of $DISPLAY as a PNG file, for `make run`
// without a display and for looking at test and benchmark runs.
// usage: window_png OUTPUT.png [WINDOW-ID] [--wait SECONDS] [--scale N]
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <fmt/core.h>
#include <xcb/xcb.h>

#include "find_window.hpp"

namespace {

using tools::find_dock_window;
using tools::XcbPtr;

/// The table of the CRC-32 that PNG chunks carry (polynomial 0xedb88320, reflected).
std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t len) {
    static const std::array<std::uint32_t, 256> table = make_crc_table();
    std::uint32_t c = 0xffffffffu;
    for (std::size_t i = 0; i < len; ++i)
        c = table[(c ^ data[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

void put_be32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

/// Length, type, data and the CRC of type and data.
void put_chunk(std::vector<std::uint8_t>& out, const char* type,
               const std::vector<std::uint8_t>& data) {
    put_be32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_be32(out, crc32(out.data() + start, out.size() - start));
}

/// A zlib stream of stored (uncompressed) deflate blocks: no compression library needed.
std::vector<std::uint8_t> zlib_stored(const std::vector<std::uint8_t>& raw) {
    std::vector<std::uint8_t> out{0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t len = std::min<std::size_t>(65535, raw.size() - pos);
        const bool last = pos + len == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<std::uint8_t>(len & 0xff));
        out.push_back(static_cast<std::uint8_t>(len >> 8));
        out.push_back(static_cast<std::uint8_t>(~len & 0xff));
        out.push_back(static_cast<std::uint8_t>((~len >> 8) & 0xff));
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                   raw.begin() + static_cast<std::ptrdiff_t>(pos + len));
        pos += len;
    } while (pos < raw.size());
    // The zlib trailer: Adler-32 of the uncompressed bytes.
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put_be32(out, (b << 16) | a);
    return out;
}

/// rgb holds width * height * 3 bytes, rows top to bottom.
std::vector<std::uint8_t> encode_png(const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                                     std::uint32_t height) {
    std::vector<std::uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<std::uint8_t> header;
    put_be32(header, width);
    put_be32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB, no interlace
    put_chunk(out, "IHDR", header);
    std::vector<std::uint8_t> raw;
    raw.reserve((std::size_t{width} * 3 + 1) * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        raw.push_back(0); // filter: none
        const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(std::size_t{y} * width * 3);
        raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(width * 3));
    }
    put_chunk(out, "IDAT", zlib_stored(raw));
    put_chunk(out, "IEND", {});
    return out;
}

int run(int argc, char** argv) {
    if (argc < 2) {
        fmt::print(stderr,
                   "usage: window_png OUTPUT.png [WINDOW-ID] [--wait SECONDS] [--scale N]\n");
        return 2;
    }
    const std::string output = argv[1];
    std::optional<xcb_window_t> window;
    double wait_s = 0;
    std::uint32_t scale = 1;
    for (int i = 2; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--wait" && i + 1 < argc)
            wait_s = std::atof(argv[++i]);
        else if (std::string_view(argv[i]) == "--scale" && i + 1 < argc)
            scale = static_cast<std::uint32_t>(std::clamp(std::atoi(argv[++i]), 1, 16));
        else
            window = static_cast<xcb_window_t>(std::strtoul(argv[i], nullptr, 0));
    }

    int screen_number = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screen_number);
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> owner(c, xcb_disconnect);
    if (xcb_connection_has_error(c)) {
        fmt::print(stderr, "window_png: cannot open display {}\n",
                   std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(DISPLAY not set)");
        return 1;
    }
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screen_number; ++i)
        xcb_screen_next(&it);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(wait_s * 1000));
    // The program may still be starting: look again until the wait is over.
    while (!window) {
        window = find_dock_window(c, it.data->root);
        if (window || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!window) {
        fmt::print(stderr, "window_png: no glyphRain window on the display\n");
        return 1;
    }

    XcbPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, *window), nullptr));
    if (!geometry) {
        fmt::print(stderr, "window_png: window {:#x} does not exist\n", *window);
        return 1;
    }
    const std::uint16_t width = geometry->width, height = geometry->height;
    XcbPtr<xcb_get_image_reply_t> image(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, *window, 0, 0, width, height, 0xffffffff),
        nullptr));
    const std::size_t pixels = std::size_t{width} * height;
    if (!image || static_cast<std::size_t>(xcb_get_image_data_length(image.get())) < pixels * 4) {
        fmt::print(stderr, "window_png: cannot read the window (not viewable, or not 32 bpp)\n");
        return 1;
    }
    // 32-bit pixels 0x00RRGGBB in the server's byte order become RGB triplets.
    const bool lsb = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    const std::uint8_t* data = xcb_get_image_data(image.get());
    std::vector<std::uint8_t> rgb(pixels * 3);
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* p = data + i * 4;
        rgb[i * 3 + 0] = lsb ? p[2] : p[1];
        rgb[i * 3 + 1] = lsb ? p[1] : p[2];
        rgb[i * 3 + 2] = lsb ? p[0] : p[3];
    }

    // Enlarge by pixel repetition, without smoothing, so small glyphs stay crisp.
    const std::uint32_t out_w = width * scale, out_h = height * scale;
    std::vector<std::uint8_t> scaled(std::size_t{out_w} * out_h * 3);
    for (std::uint32_t y = 0; y < out_h; ++y)
        for (std::uint32_t x = 0; x < out_w; ++x)
            std::copy_n(&rgb[(std::size_t{y / scale} * width + x / scale) * 3], 3,
                        &scaled[(std::size_t{y} * out_w + x) * 3]);
    const std::vector<std::uint8_t> png = encode_png(scaled, out_w, out_h);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(output.c_str(), "wb"), std::fclose);
    if (!file || std::fwrite(png.data(), 1, png.size(), file.get()) != png.size() ||
        std::fclose(file.release()) != 0) {
        fmt::print(stderr, "window_png: cannot write {}: {}\n", output, std::strerror(errno));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return run(argc, argv);
}

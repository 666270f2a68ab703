// SPDX-License-Identifier: MIT
// The dock window driven in-process on a private Xvfb and read back through a second connection,
// and the PutImage bands that need no server.
#include "display/x11/dock_window.hpp"

#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <ostream>
#include <span>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "display/x11/shm_frames.hpp"
#include "support/temp_dir.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"
#include "support/xvfb_dock.hpp"
#include "system/error.hpp"

namespace glyphrain {
namespace {

using test::ScopedEnv;
using test::XClient;
using test::XvfbDock;
using test::XvfbServer;

/// 0xRRGGBB pixels that each differ from their neighbours.
std::vector<std::uint32_t> pattern_pixels(std::size_t n, std::uint32_t salt) {
    std::vector<std::uint32_t> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = (static_cast<std::uint32_t>(i) * 2654435761u + salt) & 0xffffff;
    return out;
}

/// pattern_pixels for the whole window, written in its byte order.
std::vector<std::uint8_t> pattern_frame(const DockWindow& dock, std::uint32_t salt) {
    const std::vector<std::uint32_t> pixels =
        pattern_pixels(std::size_t{dock.size()} * dock.size(), salt);
    std::vector<std::uint8_t> bytes(pixels.size() * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint32_t v = pixels[i];
        std::uint8_t r = v >> 16, g = (v >> 8) & 0xff, b = v & 0xff;
        std::uint8_t* p = &bytes[i * 4];
        if (dock.lsb_first()) {
            p[0] = b, p[1] = g, p[2] = r, p[3] = 0;
        } else {
            p[0] = 0, p[1] = r, p[2] = g, p[3] = b;
        }
    }
    return bytes;
}

/// The dock window's pixels as the other connection reads them, read again for up to two seconds
/// until they are expected: that connection's requests may be served before the frame is.
std::vector<std::uint32_t> image_once_shown(XClient& x, const DockWindow& dock,
                                            const std::vector<std::uint32_t>& expected) {
    std::vector<std::uint32_t> seen;
    for (int i = 0; i < 100 && seen != expected; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        seen = x.image(dock.window(), 0, 0, dock.size(), dock.size());
    }
    return seen;
}

/// Events of the dock window until kind shows up or a second passes.
bool wait_for_event(DockWindow& dock, DisplayEvent::Kind kind, DisplayEvent* seen = nullptr) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        DisplayEvent e = dock.poll_event();
        if (e.kind == kind) {
            if (seen) *seen = e;
            return true;
        }
        if (e.kind == DisplayEvent::Kind::none)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

/// Sends a whole frame to the dock window and flushes, as the main loop does.
void present(DockWindow& dock, std::span<const std::uint8_t> pixels) {
    dock.send_frame(dock.window(), pixels);
    dock.flush();
}

/// Until done() holds, for up to two seconds: reads every queued event each 10 ms.
template <class Done> void poll_until(DockWindow& dock, Done done) {
    for (int i = 0; !done() && i < 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (dock.poll_event().kind != DisplayEvent::Kind::none) {
        }
    }
}

void drain(DockWindow& dock) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    while (dock.poll_event().kind != DisplayEvent::Kind::none) {
    }
}

/// The arguments as WM_COMMAND holds them: each ended by a NUL byte.
std::string nul_joined(const std::vector<std::string>& args) {
    std::string out;
    for (const std::string& arg : args)
        out.append(arg).push_back('\0');
    return out;
}

/// A command whose WM_COMMAND data is exactly bytes long.
std::vector<std::string> command_of_length(std::size_t bytes) {
    return {"glyphRain", std::string(bytes - 11, 'x')};
}

struct PropertyCase {
    const char* name;
    std::uint16_t size;
    std::optional<std::uint32_t> slit;
    // An empty argument and one with a space must keep their places.
    std::vector<std::string> command = {"glyphRain", "--size", "", "a b"};
    bool core_length = false; // the server is reached without BIG-REQUESTS
    bool command_kept = true; // WM_COMMAND is there, else left out
};

void PrintTo(const PropertyCase& c, std::ostream* os) {
    *os << c.name;
}

class DockWindowProperties : public ::testing::TestWithParam<PropertyCase> {};

TEST_P(DockWindowProperties, ReadBackFromAnotherClient) {
    const PropertyCase& c = GetParam();
    const auto size = c.size;
    const auto slit = c.slit;
    XvfbDock f({.size = size, .slit = slit, .command = c.command, .core_length = c.core_length});
    DockWindow& dock = *f.window;
    XClient& x = f.x;

    const xcb_window_t w = dock.window();
    const test::Geometry g = x.geometry(w);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, size);
    EXPECT_EQ(g.height, size);
    EXPECT_EQ(x.tree(w).parent, x.root());
    const test::Attributes dock_attrs = x.attributes(w);
    EXPECT_EQ(dock_attrs.window_class, XCB_WINDOW_CLASS_INPUT_OUTPUT);
    EXPECT_EQ(dock_attrs.map_state, XCB_MAP_STATE_VIEWABLE);
    EXPECT_EQ(dock_attrs.all_event_masks, 0x38000u);

    // The icon window twins the dock window but is left unmapped for a window manager.
    const xcb_window_t icon = dock.icon_window();
    const test::Geometry icon_g = x.geometry(icon);
    EXPECT_EQ(icon_g.width, size);
    EXPECT_EQ(icon_g.height, size);
    EXPECT_EQ(x.tree(icon).parent, x.root());
    const test::Attributes icon_attrs = x.attributes(icon);
    EXPECT_EQ(icon_attrs.window_class, XCB_WINDOW_CLASS_INPUT_OUTPUT);
    EXPECT_EQ(icon_attrs.map_state, XCB_MAP_STATE_UNMAPPED);
    EXPECT_EQ(icon_attrs.all_event_masks, 0x38000u);

    // Each has an input-only child covering all but the 4-pixel frame.
    for (xcb_window_t parent : {w, icon}) {
        const test::Tree children = x.tree(parent);
        ASSERT_EQ(children.children.size(), 1u);
        const xcb_window_t input = children.children[0];
        const test::Geometry ig = x.geometry(input);
        EXPECT_EQ(ig.x, 4);
        EXPECT_EQ(ig.y, 4);
        EXPECT_EQ(ig.width, size - 8);
        EXPECT_EQ(ig.height, size - 8);
        const test::Attributes input_attrs = x.attributes(input);
        EXPECT_EQ(input_attrs.window_class, XCB_WINDOW_CLASS_INPUT_ONLY);
        EXPECT_EQ(input_attrs.map_state,
                  parent == w ? XCB_MAP_STATE_VIEWABLE : XCB_MAP_STATE_UNVIEWABLE);
        EXPECT_EQ(input_attrs.all_event_masks, 0x4u);
    }

    auto wm_class = x.property(w, XCB_ATOM_WM_CLASS);
    ASSERT_TRUE(wm_class);
    EXPECT_EQ(wm_class->type, XCB_ATOM_STRING);
    EXPECT_EQ(wm_class->format, 8);
    EXPECT_EQ(std::string(wm_class->bytes.begin(), wm_class->bytes.end()),
              std::string("glyphrain\0glyphRain\0", 20));

    auto wm_name = x.property(w, XCB_ATOM_WM_NAME);
    ASSERT_TRUE(wm_name);
    EXPECT_EQ(wm_name->type, XCB_ATOM_STRING);
    EXPECT_EQ(wm_name->format, 8);
    EXPECT_EQ(std::string(wm_name->bytes.begin(), wm_name->bytes.end()), "glyphRain");

    auto hints = x.property(w, XCB_ATOM_WM_HINTS);
    ASSERT_TRUE(hints);
    EXPECT_EQ(hints->type, XCB_ATOM_WM_HINTS);
    EXPECT_EQ(hints->format, 32);
    EXPECT_EQ(hints->words(), (std::vector<std::uint32_t>{0x4b, 1, 0, 0, icon, 0, 0, 0, w}));

    // The arguments as given, each ended by a NUL byte, or nothing when the server could not take
    // them in one request; the host and the pid beside them.
    auto command = x.property(w, XCB_ATOM_WM_COMMAND);
    ASSERT_EQ(command.has_value(), c.command_kept);
    if (command) {
        EXPECT_EQ(command->type, XCB_ATOM_STRING);
        EXPECT_EQ(command->format, 8);
        EXPECT_EQ(std::string(command->bytes.begin(), command->bytes.end()), nul_joined(c.command));
    }
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    auto machine = x.property(w, XCB_ATOM_WM_CLIENT_MACHINE);
    ASSERT_TRUE(machine);
    EXPECT_EQ(machine->type, XCB_ATOM_STRING);
    EXPECT_EQ(std::string(machine->bytes.begin(), machine->bytes.end()), host);
    auto pid = x.property(w, x.atom("_NET_WM_PID"));
    ASSERT_TRUE(pid);
    EXPECT_EQ(pid->type, XCB_ATOM_CARDINAL);
    EXPECT_EQ(pid->words(), std::vector<std::uint32_t>{static_cast<std::uint32_t>(::getpid())});

    auto normal = x.property(w, XCB_ATOM_WM_NORMAL_HINTS);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->type, x.atom("WM_SIZE_HINTS"));
    EXPECT_EQ(normal->format, 32);
    EXPECT_EQ(normal->words(), (std::vector<std::uint32_t>{0x30, 0, 0, 0, 0, size, size, size, size,
                                                           0, 0, 0, 0, 0, 0, 0, 0, 0}));

    auto protocols = x.property(w, x.atom("WM_PROTOCOLS"));
    ASSERT_TRUE(protocols);
    EXPECT_EQ(protocols->type, XCB_ATOM_ATOM);
    EXPECT_EQ(protocols->format, 32);
    EXPECT_EQ(protocols->words(), std::vector<std::uint32_t>{x.atom("WM_DELETE_WINDOW")});

    // Without a slit number the atom is not even interned.
    const xcb_atom_t slit_atom = x.atom("_VIREO_SLIT", false);
    if (slit) {
        ASSERT_NE(slit_atom, XCB_ATOM_NONE);
        auto slit_property = x.property(w, slit_atom);
        ASSERT_TRUE(slit_property);
        EXPECT_EQ(slit_property->type, XCB_ATOM_CARDINAL);
        EXPECT_EQ(slit_property->format, 32);
        EXPECT_EQ(slit_property->words(), std::vector<std::uint32_t>{*slit});
    } else {
        EXPECT_EQ(slit_atom, XCB_ATOM_NONE);
    }
}

// Without BIG-REQUESTS a request holds at most 262,140 bytes, 24 of them ChangeProperty's header.
INSTANTIATE_TEST_SUITE_P(
    Sizes, DockWindowProperties,
    ::testing::Values(
        PropertyCase{"size96", 96, std::nullopt}, PropertyCase{"size128slit2", 128, 2},
        PropertyCase{"size1024slit0", 1024, 0}, PropertyCase{"size255slitMax", 255, 4294967295u},
        PropertyCase{"longCommandBigRequests", 96, std::nullopt, command_of_length(300000)},
        PropertyCase{"longestCommandCoreLength", 96, std::nullopt, command_of_length(262116), true},
        PropertyCase{"tooLongCommandCoreLength", 96, std::nullopt, command_of_length(262117), true,
                     false}),
    [](const ::testing::TestParamInfo<PropertyCase>& p) { return std::string(p.param.name); });

struct FormatCase {
    const char* screen;
    const char* message;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.screen;
}

class DockWindowPixelFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DockWindowPixelFormat, RefusedBeforeAnyWindowExists) {
    XvfbServer server(GetParam().screen);
    ScopedEnv env("DISPLAY", server.display());
    XClient x(server.display());
    const std::size_t windows_before = x.tree(x.root()).children.size();
    try {
        DockWindow dock(96, 3);
        FAIL() << "the pixel format was accepted";
    } catch (const AppError& e) {
        EXPECT_STREQ(e.what(), GetParam().message);
    }
    EXPECT_EQ(x.tree(x.root()).children.size(), windows_before);
    EXPECT_EQ(x.atom("WM_PROTOCOLS", false), XCB_ATOM_NONE);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, DockWindowPixelFormat,
    ::testing::Values(
        FormatCase{"640x480x16", "Unsupported pixel format: 16bpp at depth 16. Expected 32bpp."},
        FormatCase{"640x480x8", "Unsupported pixel format: 8bpp at depth 8. Expected 32bpp."},
        FormatCase{"640x480x30",
                   "Unsupported pixel format: TrueColor visual at depth 30 with masks 0x3ff00000, "
                   "0xffc00, 0x3ff. Expected TrueColor with masks 0xff0000, 0xff00, 0xff."}));

/// How frames reach the server.
enum class Via { put_image, memfd, sysv };

struct FrameCase {
    const char* name;
    std::uint16_t size;
    bool no_shm;      // GLYPHRAIN_NO_SHM set when the window is opened
    bool core_length; // the server is reached without BIG-REQUESTS
    Via via;
    std::vector<PixelRect> rects = {}; // a last frame sends only these
};

void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << c.name;
}

/// Mappings of this process whose line in /proc/self/maps contains what.
int own_mappings(const char* what) {
    std::ifstream maps("/proc/self/maps");
    int n = 0;
    for (std::string line; std::getline(maps, line);)
        if (line.find(what) != std::string::npos) ++n;
    return n;
}

class DockWindowFrames : public ::testing::TestWithParam<FrameCase> {};

// 255 is the largest frame that fits the 16-bit request length; from 256 the extended length is
// needed, or bands of rows where the server lacks it, and 1024 is the largest window. Every way
// of sending must show the very same pixels; three frames make the shared path reuse a segment
// after its completion.
TEST_P(DockWindowFrames, EveryPixelArrives) {
    const FrameCase& c = GetParam();
    const std::uint16_t size = c.size;
    const bool shared = c.via != Via::put_image;
    XvfbDock f({.size = size, .core_length = c.core_length, .no_shm = c.no_shm});
    DockWindow& dock = *f.window;
    XClient& x = f.x;
    EXPECT_EQ(dock.shares_memory(), shared);
    EXPECT_EQ(own_mappings("memfd:glyphRain-frame"), c.via == Via::memfd ? 2 : 0);
    EXPECT_EQ(own_mappings("/SYSV"), c.via == Via::sysv ? 2 : 0);

    std::vector<std::uint8_t> client_buffer(std::size_t{size} * size * 4);
    if (shared) {
        // Once each segment carries a frame whose completion has not been read, neither may be
        // written: the server could still be reading it.
        const std::span<std::uint8_t> first = dock.frame_memory(client_buffer);
        ASSERT_EQ(first.size(), client_buffer.size());
        present(dock, first);
        const std::span<std::uint8_t> second = dock.frame_memory(client_buffer);
        ASSERT_EQ(second.size(), client_buffer.size());
        EXPECT_NE(second.data(), first.data());
        present(dock, second);
        EXPECT_TRUE(dock.frame_memory(client_buffer).empty());
    }
    for (std::uint32_t salt : {1u, 977u, 4099u}) {
        // A segment is free again once its completion event has been read.
        std::span<std::uint8_t> memory;
        poll_until(dock, [&] { return !(memory = dock.frame_memory(client_buffer)).empty(); });
        ASSERT_EQ(memory.size(), client_buffer.size()) << "salt " << salt;
        EXPECT_EQ(memory.data() == client_buffer.data(), !shared);
        const std::vector<std::uint8_t> frame = pattern_frame(dock, salt);
        std::memcpy(memory.data(), frame.data(), frame.size());
        present(dock, memory);
        const std::vector<std::uint32_t> expected = pattern_pixels(std::size_t{size} * size, salt);
        EXPECT_EQ(image_once_shown(x, dock, expected), expected) << "salt " << salt;
    }
    if (!c.rects.empty()) {
        // Only the rectangles change; the rest keeps the frame before.
        std::span<std::uint8_t> memory = dock.frame_memory(client_buffer);
        for (int i = 0; i < 200 && memory.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            while (dock.poll_event().kind != DisplayEvent::Kind::none) {
            }
            memory = dock.frame_memory(client_buffer);
        }
        ASSERT_EQ(memory.size(), client_buffer.size());
        const std::vector<std::uint8_t> frame = pattern_frame(dock, 7);
        std::memcpy(memory.data(), frame.data(), frame.size());
        dock.send_frame(dock.window(), memory, c.rects);
        dock.flush();
        std::vector<std::uint32_t> expected = pattern_pixels(std::size_t{size} * size, 4099);
        const std::vector<std::uint32_t> next = pattern_pixels(std::size_t{size} * size, 7);
        for (const PixelRect& r : c.rects)
            for (std::uint32_t row = r.y; row < r.y + r.height; ++row)
                for (std::uint32_t col = r.x; col < r.x + r.width; ++col)
                    expected[std::size_t{row} * size + col] = next[std::size_t{row} * size + col];
        std::vector<std::uint32_t> seen;
        for (int i = 0; i < 100 && seen != expected; ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            seen = x.image(dock.window(), 0, 0, size, size);
        }
        EXPECT_EQ(seen, expected) << "rectangles";
    }
    // The server took the frames without complaint: no error event came back and the path held.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (DisplayEvent e = dock.poll_event(); e.kind != DisplayEvent::Kind::none;
         e = dock.poll_event())
        EXPECT_NE(e.kind, DisplayEvent::Kind::close_request);
    EXPECT_EQ(dock.shares_memory(), shared);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DockWindowFrames,
    ::testing::Values(FrameCase{"putImage96", 96, false, false, Via::put_image},
                      FrameCase{"putImage255", 255, true, false, Via::put_image},
                      FrameCase{"putImage256", 256, true, false, Via::put_image},
                      FrameCase{"putImage1024", 1024, true, false, Via::put_image},
                      FrameCase{"putImage256CoreLength", 256, true, true, Via::put_image},
                      FrameCase{"putImage1024CoreLength", 1024, true, true, Via::put_image},
                      FrameCase{"putImageBelowShm", k_shm_min_size_px - 1, false, false,
                                Via::put_image},
                      FrameCase{"memfdSmallest", k_shm_min_size_px, false, false, Via::memfd},
                      FrameCase{"memfd1024", 1024, false, false, Via::memfd},
                      // The relay drops passed descriptors, so the server itself refuses the memfd.
                      FrameCase{"sysvWhenServerRefusesMemfd", 1024, false, true, Via::sysv},
                      // A rectangle too large for one request goes in bands of its own rows.
                      FrameCase{"putImageRects1024CoreLength",
                                1024,
                                true,
                                true,
                                Via::put_image,
                                {{0, 0, 1024, 200}, {100, 300, 500, 700}, {1000, 1020, 24, 4}}},
                      FrameCase{"putImageRects96",
                                96,
                                false,
                                false,
                                Via::put_image,
                                {{4, 10, 9, 60}, {40, 4, 20, 88}, {0, 95, 96, 1}}},
                      FrameCase{"memfdRects",
                                k_shm_min_size_px,
                                false,
                                false,
                                Via::memfd,
                                {{4, 10, 9, 60}, {40, 4, 20, 88}, {0, 127, 128, 1}}}),
    [](const ::testing::TestParamInfo<FrameCase>& p) { return std::string(p.param.name); });

// A shared frame the server refuses never completes, so the segment could not be reused: the
// window goes back to PutImage for good and keeps showing frames.
TEST(DockWindowFrames, AnErrorOnTheSharedPathSwitchesToPutImage) {
    const std::uint16_t size = k_shm_min_size_px;
    XvfbDock f({.size = size});
    DockWindow& dock = *f.window;
    XClient& x = f.x;
    ASSERT_TRUE(dock.shares_memory());
    std::vector<std::uint8_t> client_buffer(std::size_t{size} * size * 4);
    const std::span<std::uint8_t> memory = dock.frame_memory(client_buffer);
    ASSERT_EQ(memory.size(), client_buffer.size());
    dock.send_frame(XCB_NONE, memory); // BadDrawable for a ShmPutImage
    dock.flush();
    poll_until(dock, [&] { return !dock.shares_memory(); });
    ASSERT_FALSE(dock.shares_memory());
    ASSERT_EQ(dock.frame_memory(client_buffer).data(), client_buffer.data());
    client_buffer = pattern_frame(dock, 5);
    present(dock, client_buffer);
    const std::vector<std::uint32_t> expected = pattern_pixels(std::size_t{size} * size, 5);
    EXPECT_EQ(image_once_shown(x, dock, expected), expected);
}

TEST(DockWindowFrames, WrongBufferLengthIsRefused) {
    XvfbDock f;
    DockWindow& dock = *f.window;
    std::vector<std::uint8_t> short_frame(96 * 96 * 4 - 4);
    EXPECT_THROW(dock.send_frame(dock.window(), short_frame), std::invalid_argument);
}

TEST(DockWindowEvents, CloseMessageAndOtherMessages) {
    XvfbDock f;
    DockWindow& dock = *f.window;
    XClient& x = f.x;
    drain(dock);

    // Only the first data word counts, whatever the message type.
    x.send_client_message(dock.window(), x.atom("SOMETHING_ELSE"), x.atom("WM_TAKE_FOCUS"));
    EXPECT_TRUE(wait_for_event(dock, DisplayEvent::Kind::other));
    EXPECT_EQ(dock.poll_event().kind, DisplayEvent::Kind::none);
    x.send_client_message(dock.window(), x.atom("SOMETHING_ELSE"), x.atom("WM_DELETE_WINDOW"));
    EXPECT_TRUE(wait_for_event(dock, DisplayEvent::Kind::close_request));
    x.send_delete_window(dock.window());
    EXPECT_TRUE(wait_for_event(dock, DisplayEvent::Kind::close_request));
}

TEST(DockWindowEvents, DestroyedWindow) {
    XvfbDock f;
    DockWindow& dock = *f.window;
    XClient& x = f.x;
    drain(dock);
    x.destroy_window(dock.window());
    EXPECT_TRUE(wait_for_event(dock, DisplayEvent::Kind::destroyed));
    // Frames to a destroyed window only produce ignored error events.
    std::vector<std::uint8_t> frame(96 * 96 * 4);
    EXPECT_NO_THROW(dock.send_frame(dock.window(), frame));
    EXPECT_NO_THROW(dock.flush());
    EXPECT_TRUE(wait_for_event(dock, DisplayEvent::Kind::other));
}

TEST(DockWindowEvents, PressesOnTheInputWindowOnly) {
    XvfbDock f;
    DockWindow& dock = *f.window;
    XClient& x = f.x;
    drain(dock);

    for (std::uint8_t button : {1, 2, 3, 4, 5}) {
        x.click(50, 50, button);
        DisplayEvent e;
        ASSERT_TRUE(wait_for_event(dock, DisplayEvent::Kind::button_press, &e)) << int{button};
        EXPECT_EQ(e.button, button);
    }
    // The 4-pixel frame belongs to the dock window, which takes no presses.
    x.click(2, 50, 1);
    x.click(93, 93, 1);
    EXPECT_FALSE(wait_for_event(dock, DisplayEvent::Kind::button_press));
}

// A dock taking the window in again after it shrank it (a restarted Notion) is asked for the
// whole size, which it may then grant.
TEST(DockWindowEvents, NewHolderIsAskedForTheWholeSize) {
    XvfbDock f;
    DockWindow& dock = *f.window;
    const xcb_window_t holder = f.x.create_window(0, 0, 200, 200, true);
    f.x.redirect_children(holder);
    f.x.resize(dock.window(), 64, 64);
    f.x.reparent(dock.window(), holder, 0, 0);
    std::optional<xcb_configure_request_event_t> asked;
    poll_until(dock, [&] { return (asked = f.x.take_configure_request()).has_value(); });
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->window, dock.window());
    EXPECT_EQ(asked->width, 96);
    EXPECT_EQ(asked->height, 96);
}

// A dock holding the icon window parks the main window where nobody looks: shaped to nothing
// meanwhile, and whole again once the dock hands the icon window back to the root.
TEST(DockWindowEvents, MainWindowShapedAwayOnlyWhileDocked) {
    XvfbDock f;
    DockWindow& dock = *f.window;
    const xcb_window_t slit = f.x.create_window(200, 0, 96, 96, true);
    f.x.reparent(dock.icon_window(), slit, 0, 0);
    f.x.set_mapped(dock.icon_window(), true);
    poll_until(dock, [&] { return f.x.shape_extents(dock.window()).width == 0; });
    EXPECT_EQ(f.x.shape_extents(dock.window()).width, 0);
    f.x.reparent(dock.icon_window(), f.x.root(), 0, 0);
    poll_until(dock, [&] { return f.x.shape_extents(dock.window()).width == 96; });
    EXPECT_EQ(f.x.shape_extents(dock.window()).height, 96);
}

// Unmapping a holder tells the windows inside nothing, so a holder is watched for as long as it
// holds, not only looked at when it takes the window.
TEST(DockWindowEvents, HolderUnmappedLaterHidesTheWindow) {
    XvfbDock f;
    DockWindow& dock = *f.window;
    const xcb_window_t holder = f.x.create_window(0, 0, 96, 96, true);
    f.x.reparent(dock.window(), holder, 0, 0);
    poll_until(dock, [&] {
        return (f.x.attributes(holder).all_event_masks & XCB_EVENT_MASK_STRUCTURE_NOTIFY) != 0 &&
               !dock.viewable_targets().empty();
    });
    ASSERT_FALSE(dock.viewable_targets().empty());
    f.x.set_mapped(holder, false);
    poll_until(dock, [&] { return dock.viewable_targets().empty(); });
    EXPECT_TRUE(dock.viewable_targets().empty());
}

TEST(DockWindowFailures, KilledServerBreaksPollAndFrame) {
    XvfbDock f;
    DockWindow& dock = *f.window;
    f.server.kill_now();
    std::vector<std::uint8_t> frame(96 * 96 * 4);
    bool thrown = false;
    // The loss shows at the next poll or, at the latest, when a frame cannot be written.
    for (int i = 0; i < 20 && !thrown; ++i) {
        try {
            (void)dock.poll_event();
            dock.send_frame(dock.window(), frame);
            dock.flush();
        } catch (const std::runtime_error& e) {
            thrown = true;
            EXPECT_NE(std::string(e.what()).find("Lost connection to the X server"),
                      std::string::npos)
                << e.what();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(thrown);
}

TEST(DockWindowFailures, NoDisplay) {
    ScopedEnv no_display("DISPLAY", std::nullopt);
    try {
        DockWindow dock(96, std::nullopt);
        ADD_FAILURE() << "connected without a display";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot open display: DISPLAY is not set");
    }
    {
        // A display number nobody serves (the lock files say so).
        int number = 6000;
        while (test::file_exists("/tmp/.X" + std::to_string(number) + "-lock") ||
               test::file_exists("/tmp/.X11-unix/X" + std::to_string(number)))
            ++number;
        ScopedEnv env("DISPLAY", ":" + std::to_string(number));
        try {
            DockWindow dock(96, std::nullopt);
            ADD_FAILURE() << "connected to a display nobody serves";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(
                          "Cannot open display :" + std::to_string(number) + ": ", 0),
                      0u)
                << e.what();
        }
    }
}

} // namespace
} // namespace glyphrain

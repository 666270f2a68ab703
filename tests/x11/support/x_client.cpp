// SPDX-License-Identifier: MIT
// The second connection of X tests, over plain libxcb and the XTEST extension.
#include "support/x_client.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <thread>

#include <xcb/shape.h>
#include <xcb/xcbext.h>

#include "support/fake_click.hpp"

namespace glyphrain::test {
namespace {

constexpr char k_dock_class[] = "glyphrain\0glyphRain"; // with its final NUL: 20 bytes

// A window manager that grabs the server and never lets go would otherwise stall the test until
// CTest kills it, with no word of where.
constexpr int k_reply_timeout_ms = 15000;

} // namespace

std::vector<std::uint32_t> Property::words() const {
    std::vector<std::uint32_t> out(bytes.size() / 4);
    std::memcpy(out.data(), bytes.data(), out.size() * 4);
    return out;
}

XClient::XClient(const std::string& display) {
    int screen = 0;
    m_c = xcb_connect(display.c_str(), &screen);
    if (xcb_connection_has_error(m_c)) {
        xcb_disconnect(m_c);
        throw std::runtime_error("test client cannot connect to " + display);
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
    for (int i = 0; i < screen; ++i)
        xcb_screen_next(&it);
    m_root = it.data->root;
    // The test plays the user, whose mouse no server grab holds back: a manager that grabs the
    // server in the middle of a drag (Window Maker does, now and then) and waits for the release
    // would otherwise wait for ever for a fake one.
    xcb_test_grab_control(m_c, 1);
}

XClient::~XClient() {
    xcb_disconnect(m_c);
}

std::uint32_t XClient::max_request_bytes() {
    return xcb_get_maximum_request_length(m_c) * 4;
}

xcb_atom_t XClient::atom(const std::string& name, bool create) {
    auto reply = await<xcb_intern_atom_reply_t>(
        xcb_intern_atom(m_c, create ? 0 : 1, static_cast<std::uint16_t>(name.size()), name.c_str())
            .sequence,
        "InternAtom");
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::optional<Property> XClient::property(xcb_window_t window, xcb_atom_t name) {
    auto reply = await<xcb_get_property_reply_t>(
        xcb_get_property(m_c, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20).sequence,
        "GetProperty");
    if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
    Property p;
    p.type = reply->type;
    p.format = reply->format;
    const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
    p.bytes.assign(data, data + xcb_get_property_value_length(reply.get()));
    return p;
}

Geometry XClient::geometry(xcb_window_t window) {
    auto reply =
        await<xcb_get_geometry_reply_t>(xcb_get_geometry(m_c, window).sequence, "GetGeometry");
    if (!reply) return {};
    return {reply->x, reply->y, reply->width, reply->height};
}

Tree XClient::tree(xcb_window_t window) {
    auto reply = await<xcb_query_tree_reply_t>(xcb_query_tree(m_c, window).sequence, "QueryTree");
    if (!reply) return {};
    Tree t;
    t.parent = reply->parent;
    const xcb_window_t* children = xcb_query_tree_children(reply.get());
    t.children.assign(children, children + xcb_query_tree_children_length(reply.get()));
    return t;
}

Attributes XClient::attributes(xcb_window_t window) {
    auto reply = await<xcb_get_window_attributes_reply_t>(
        xcb_get_window_attributes(m_c, window).sequence, "GetWindowAttributes");
    if (!reply) return {};
    return {reply->_class, reply->map_state, reply->all_event_masks};
}

std::optional<xcb_window_t> XClient::find_dock_window() {
    std::vector<xcb_window_t> pending{m_root};
    while (!pending.empty()) {
        xcb_window_t w = pending.back();
        pending.pop_back();
        if (auto p = property(w, XCB_ATOM_WM_CLASS);
            p && p->bytes.size() == sizeof k_dock_class &&
            std::memcmp(p->bytes.data(), k_dock_class, sizeof k_dock_class) == 0)
            return w;
        for (xcb_window_t child : tree(w).children)
            pending.push_back(child);
    }
    return std::nullopt;
}

std::optional<xcb_window_t> XClient::wait_for_dock_window(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        if (auto w = find_dock_window()) return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

std::vector<std::uint32_t> XClient::image(xcb_window_t window, std::int16_t x, std::int16_t y,
                                          std::uint16_t width, std::uint16_t height) {
    auto reply = await<xcb_get_image_reply_t>(
        xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, x, y, width, height, 0xffffffff)
            .sequence,
        "GetImage");
    if (!reply) return {};
    const std::size_t count = std::size_t{width} * height;
    if (static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) < count * 4) return {};
    // Depth-24 pixels come back in 32 bits in the server's byte order; the pad byte is dropped.
    const bool lsb = xcb_get_setup(m_c)->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    const std::uint8_t* data = xcb_get_image_data(reply.get());
    std::vector<std::uint32_t> pixels(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = data + i * 4;
        pixels[i] = lsb ? (std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0])
                        : (std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3]);
    }
    return pixels;
}

std::pair<int, int> XClient::root_position(xcb_window_t window) {
    auto reply = await<xcb_translate_coordinates_reply_t>(
        xcb_translate_coordinates(m_c, window, m_root, 0, 0).sequence, "TranslateCoordinates");
    if (!reply) return {-1, -1};
    return {reply->dst_x, reply->dst_y};
}

void XClient::move(xcb_window_t window, std::int16_t x, std::int16_t y) {
    const std::uint32_t values[] = {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)};
    xcb_configure_window(m_c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    sync();
}

void XClient::resize(xcb_window_t window, std::uint16_t width, std::uint16_t height) {
    const std::uint32_t values[] = {width, height};
    xcb_configure_window(m_c, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    sync();
}

void XClient::reparent(xcb_window_t window, xcb_window_t parent, std::int16_t x, std::int16_t y) {
    xcb_reparent_window(m_c, window, parent, x, y);
    sync();
}

void XClient::redirect_children(xcb_window_t window) {
    const std::uint32_t mask[] = {XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT};
    xcb_change_window_attributes(m_c, window, XCB_CW_EVENT_MASK, mask);
    sync();
}

std::optional<xcb_configure_request_event_t> XClient::take_configure_request() {
    while (XcbPtr<xcb_generic_event_t> event{xcb_poll_for_event(m_c)})
        if ((event->response_type & 0x7f) == XCB_CONFIGURE_REQUEST)
            return *reinterpret_cast<const xcb_configure_request_event_t*>(event.get());
    return std::nullopt;
}

Geometry XClient::shape_extents(xcb_window_t window) {
    auto reply = await<xcb_shape_query_extents_reply_t>(
        xcb_shape_query_extents(m_c, window).sequence, "ShapeQueryExtents");
    if (!reply) return {};
    return {reply->bounding_shape_extents_x, reply->bounding_shape_extents_y,
            reply->bounding_shape_extents_width, reply->bounding_shape_extents_height};
}

void XClient::set_mapped(xcb_window_t window, bool mapped) {
    if (mapped)
        xcb_map_window(m_c, window);
    else
        xcb_unmap_window(m_c, window);
    sync();
}

void XClient::clear_area(xcb_window_t window) {
    xcb_clear_area(m_c, 1, window, 0, 0, 0, 0);
    sync();
}

xcb_window_t XClient::create_window(std::int16_t x, std::int16_t y, std::uint16_t width,
                                    std::uint16_t height, bool override_redirect) {
    const xcb_window_t id = xcb_generate_id(m_c);
    const std::uint32_t values[] = {override_redirect ? 1u : 0u};
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, id, m_root, x, y, width, height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      values);
    xcb_map_window(m_c, id);
    sync();
    return id;
}

// With an empty event mask the server delivers the event to the window's creator, as a window
// manager's close action does.
void XClient::send_client_message(xcb_window_t window, xcb_atom_t type, std::uint32_t word0) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = word0;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    sync();
}

void XClient::send_delete_window(xcb_window_t window) {
    send_client_message(window, atom("WM_PROTOCOLS"), atom("WM_DELETE_WINDOW"));
}

void XClient::destroy_window(xcb_window_t window) {
    xcb_destroy_window(m_c, window);
    sync();
}

void XClient::click(std::int16_t x, std::int16_t y, std::uint8_t button) {
    fake_click(m_c, m_root, x, y, button);
    sync();
}

bool XClient::alt_drag(std::int16_t from_x, std::int16_t from_y, std::int16_t to_x,
                       std::int16_t to_y) {
    constexpr xcb_keysym_t k_alt_l = 0xffe9;
    const xcb_setup_t* setup = xcb_get_setup(m_c);
    const std::uint8_t first = setup->min_keycode;
    const std::uint8_t count = static_cast<std::uint8_t>(setup->max_keycode - first + 1);
    auto mapping = await<xcb_get_keyboard_mapping_reply_t>(
        xcb_get_keyboard_mapping(m_c, first, count).sequence, "GetKeyboardMapping");
    if (!mapping) return false;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int per_code = mapping->keysyms_per_keycode;
    std::uint8_t alt = 0;
    for (int i = 0; i < count * per_code && alt == 0; ++i)
        if (syms[i] == k_alt_l) alt = static_cast<std::uint8_t>(first + i / per_code);
    if (alt == 0) return false;

    const auto move_to = [&](int x, int y) {
        xcb_test_fake_input(m_c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root,
                            static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 0);
        sync();
    };
    move_to(from_x, from_y);
    xcb_test_fake_input(m_c, XCB_KEY_PRESS, alt, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(m_c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    sync();
    // The manager follows a drag only through motion it sees, so the pointer travels in steps.
    constexpr int k_steps = 20;
    for (int step = 1; step <= k_steps; ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        move_to(from_x + (to_x - from_x) * step / k_steps,
                from_y + (to_y - from_y) * step / k_steps);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    xcb_test_fake_input(m_c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(m_c, XCB_KEY_RELEASE, alt, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    sync();
    return true;
}

void XClient::sync() {
    (void)await<xcb_get_input_focus_reply_t>(xcb_get_input_focus(m_c).sequence, "GetInputFocus");
}

void* XClient::await_reply(unsigned int sequence, const char* request) {
    xcb_flush(m_c);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(k_reply_timeout_ms);
    for (;;) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        // Reads what the socket holds before it answers, so a poll on the socket is enough.
        if (xcb_poll_for_reply(m_c, sequence, &reply, &error)) {
            XcbPtr<xcb_generic_error_t> ignored(error);
            return reply;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            throw std::runtime_error(std::string("the X server did not answer ") + request +
                                     " within 15 s: another client holds it grabbed");
        pollfd fd{xcb_get_file_descriptor(m_c), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::min<long long>(left, 100)));
    }
}

} // namespace glyphrain::test

// SPDX-License-Identifier: MIT
// Dock window set-up over libxcb in one fixed order, and the event poll. Every request but
// InternAtom and the look at a new holder goes out unchecked, so its errors surface as ignored
// events.
#include "display/x11/dock_window.hpp"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>
#include <utility>

#include <fmt/core.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include "display/geometry.hpp"
#include "display/x11/holder_watch.hpp"
#include "display/x11/put_image_frames.hpp"
#include "display/x11/setup_checks.hpp"
#include "display/x11/shm_frames.hpp"
#include "display/x11/xcb_ptr.hpp"
#include "system/error.hpp"

namespace glyphrain {
namespace {

// Instance and class name, each ended by a NUL byte (the literal supplies the last one).
constexpr char k_wm_class[] = "glyphrain\0glyphRain";
constexpr char k_wm_name[] = "glyphRain";

// Visibility changes tell a fully covered window, which is then left undrawn like an unmapped one.
constexpr std::uint32_t k_dock_event_mask =
    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_VISIBILITY_CHANGE;
constexpr std::uint32_t k_input_event_mask = XCB_EVENT_MASK_BUTTON_PRESS;

// WM_HINTS flags: InputHint, StateHint, IconWindowHint and WindowGroupHint. Window Maker shows a
// withdrawn application only through its icon window, so the icon window is named here.
constexpr std::uint32_t k_wm_hints_flags = 0x1 | 0x2 | 0x8 | 0x40;
constexpr std::uint32_t k_withdrawn_state = 0;
// WM_NORMAL_HINTS flags: PMinSize and PMaxSize.
constexpr std::uint32_t k_size_hints_flags = 0x10 | 0x20;

void change_property_32(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                        xcb_atom_t type, std::span<const std::uint32_t> words) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, 32,
                        static_cast<std::uint32_t>(words.size()), words.data());
}

} // namespace

void DockWindow::ConnectionDeleter::operator()(xcb_connection_t* c) const noexcept {
    xcb_disconnect(c);
}

DockWindow::DockWindow(std::uint16_t size, std::optional<std::uint32_t> slit,
                       std::span<const std::string> command)
    : m_size(size) {
    if (size <= 2 * k_frame_px) throw std::invalid_argument("dock window size too small");

    // libxcb would report a missing DISPLAY as a parse error; say what is really wrong.
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        throw SystemError("Cannot open display: DISPLAY is not set");
    int screen_number = 0;
    m_connection.reset(xcb_connect(nullptr, &screen_number));
    xcb_connection_t* c = m_connection.get();
    if (int code = xcb_connection_has_error(c)) {
        // A refused or unreachable server shows up as the generic stream error.
        std::string reason = code == XCB_CONN_ERROR
                                 ? "no X server answers there, or it refused the connection"
                                 : describe_connection_error(code);
        throw SystemError(fmt::format("Cannot open display {}: {}", display, reason));
    }

    const xcb_setup_t* setup = xcb_get_setup(c);
    const xcb_screen_t* screen = screen_of(*setup, screen_number);
    if (screen == nullptr)
        throw SystemError(fmt::format("Cannot open display {}: {}", display,
                                      describe_connection_error(XCB_CONN_CLOSED_INVALID_SCREEN)));
    m_root_depth = screen->root_depth;
    m_lsb_first = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;

    // Nothing may exist on the server yet when the pixel format is refused.
    check_pixel_format(*setup, *screen);

    // xcb_generate_id answers -1 when the id range is used up or the connection has failed.
    m_window = xcb_generate_id(c);
    m_gc = xcb_generate_id(c);
    if (m_window == UINT32_MAX || m_gc == UINT32_MAX) throw_connection_error("No resource id left");
    const std::uint32_t dock_values[] = {screen->black_pixel, k_dock_event_mask};
    xcb_create_window(c, m_root_depth, m_window, screen->root, 0, 0, size, size, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, dock_values);
    xcb_create_gc(c, m_gc, m_window, 0, nullptr);

    // The icon window twins the dock window; it stays unmapped until a docking window manager
    // maps it in its slit or tile. Same root and depth, so the one graphics context serves both.
    m_icon_window = xcb_generate_id(c);
    if (m_icon_window == UINT32_MAX) throw_connection_error("No resource id left");
    xcb_create_window(c, m_root_depth, m_icon_window, screen->root, 0, 0, size, size, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, dock_values);

    // Clicks arrive whichever of the two windows is shown.
    m_input_window = create_input_window(m_window);
    m_icon_input_window = create_input_window(m_icon_window);
    m_watch = std::make_unique<HolderWatch>(c, m_window, m_icon_window, screen->root, size);
    // Asked now, answered by the first atom's round trip: needed once a dock takes the icon.
    xcb_prefetch_extension_data(c, &xcb_shape_id);

    xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof k_wm_class, k_wm_class);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        std::strlen(k_wm_name), k_wm_name);
    // The withdrawn initial state makes it a dock app; the dock window leads its group.
    const std::uint32_t wm_hints[9] = {
        k_wm_hints_flags,  // flags
        1,                 // input
        k_withdrawn_state, // initial_state
        0,                 // icon_pixmap
        m_icon_window,     // icon_window
        0,                 // icon_x
        0,                 // icon_y
        0,                 // icon_mask
        m_window,          // window_group
    };
    change_property_32(c, m_window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, wm_hints);

    // Every request must fit the server's limit: without BIG-REQUESTS that is 262,140 bytes, less
    // than one frame from 256 px up. Asking enables the extension where the server has it.
    const std::size_t max_request_bytes = std::size_t{xcb_get_maximum_request_length(c)} * 4;
    m_put_image = std::make_unique<PutImageFrames>(c, size, max_request_bytes);

    // The command line and host let Window Maker dock it and start it with the session without
    // asking; each argument ends with a NUL byte. A command too long for one request is left out
    // whole: a shortened one would start something else.
    if (!command.empty()) {
        std::string words;
        for (const std::string& arg : command)
            words.append(arg).push_back('\0');
        constexpr std::size_t k_change_property_header = 24;
        if (k_change_property_header + words.size() <= max_request_bytes)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_COMMAND,
                                XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(words.size()),
                                words.data());
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLIENT_MACHINE,
                            XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(std::strlen(host)),
                            host);

    // Equal minimum and maximum sizes pin the window at size x size. WM_SIZE_HINTS is predefined
    // (XCB_ATOM_WM_SIZE_HINTS) and could skip this round trip; it is kept so that the order of the
    // set-up's requests and waits does not move.
    const xcb_atom_t size_hints_type = intern_atom("WM_SIZE_HINTS");
    // The words: flags, x, y, width, height (obsolete), min_width, min_height, max_width,
    // max_height, width_inc, height_inc, min_aspect and max_aspect (numerator, denominator each),
    // base_width, base_height, win_gravity.
    const std::uint32_t normal_hints[18] = {
        k_size_hints_flags, 0, 0, 0, 0, size, size, size, size, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    change_property_32(c, m_window, XCB_ATOM_WM_NORMAL_HINTS, size_hints_type, normal_hints);

    const xcb_atom_t protocols = intern_atom("WM_PROTOCOLS");
    m_delete_window_atom = intern_atom("WM_DELETE_WINDOW");
    const std::uint32_t protocol_words[] = {m_delete_window_atom};
    change_property_32(c, m_window, protocols, XCB_ATOM_ATOM, protocol_words);

    const xcb_atom_t pid_atom = intern_atom("_NET_WM_PID");
    const std::uint32_t pid_words[] = {static_cast<std::uint32_t>(::getpid())};
    change_property_32(c, m_window, pid_atom, XCB_ATOM_CARDINAL, pid_words);

    if (slit) {
        const xcb_atom_t slit_atom = intern_atom("_VIREO_SLIT");
        const std::uint32_t slit_words[] = {*slit};
        change_property_32(c, m_window, slit_atom, XCB_ATOM_CARDINAL, slit_words);
    }

    // Everything after the last atom reply leaves in this flush, before shared memory is tried.
    xcb_map_window(c, m_window);
    if (xcb_flush(c) <= 0) throw_connection_error("Cannot set up the dock window");

    // Decided once: shared memory only where it pays and the server can map this client's memory.
    if (size >= k_shm_min_size_px && std::getenv(k_no_shm_variable) == nullptr)
        m_shm = ShmFrames::open(c, std::size_t{size} * size * 4);
}

DockWindow::~DockWindow() = default;

std::uint32_t DockWindow::create_input_window(std::uint32_t parent) {
    // The input window leaves the 4-pixel frame uncovered, so presses there reach nobody.
    xcb_connection_t* c = m_connection.get();
    const std::uint32_t id = xcb_generate_id(c);
    if (id == UINT32_MAX) throw_connection_error("No resource id left");
    const std::uint32_t input_values[] = {k_input_event_mask};
    const std::uint16_t inner = m_size - 2 * k_frame_px;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, id, parent, k_frame_px, k_frame_px, inner, inner, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      input_values);
    xcb_map_window(c, id);
    return id;
}

std::uint32_t DockWindow::intern_atom(const char* name) {
    xcb_connection_t* c = m_connection.get();
    xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_generic_error_t* raw_error = nullptr;
    // One of the set-up's waits; the others are the maximum request length and shared memory.
    XcbPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, &raw_error));
    XcbPtr<xcb_generic_error_t> error(raw_error);
    if (error)
        throw SystemError(fmt::format("The X server refused to intern the atom {} (X error {})",
                                      name, static_cast<int>(error->error_code)));
    if (!reply) throw_connection_error("Cannot intern an atom");
    return reply->atom;
}

void DockWindow::throw_connection_error(const char* context) const {
    int code = xcb_connection_has_error(m_connection.get());
    if (code == 0) throw SystemError(context);
    throw SystemError(fmt::format("{}: {}", context, describe_connection_error(code)));
}

bool DockWindow::shares_memory() const noexcept {
    return m_shm && !m_shm->failed();
}

std::span<std::uint8_t> DockWindow::frame_memory(std::span<std::uint8_t> client_buffer) noexcept {
    if (shares_memory()) return m_shm->acquire();
    // libxcb waits inside its write for as long as the socket stays full, as a stopped or grabbed
    // server leaves it. A socket that polls writable has at least three quarters of its send
    // buffer free (about 150 KiB for a local one), so a frame of PutImage size (under 128 px,
    // 64 KiB) goes without waiting; a larger one can still wait if the server stops mid-frame.
    pollfd socket{xcb_get_file_descriptor(m_connection.get()), POLLOUT, 0};
    m_output_blocked = ::poll(&socket, 1, 0) == 0;
    return m_output_blocked ? std::span<std::uint8_t>{} : client_buffer;
}

std::size_t DockWindow::memory_index(std::span<const std::uint8_t> memory) const noexcept {
    return shares_memory() ? m_shm->number_of(memory) : 0;
}

void DockWindow::send_frame(std::uint32_t window, std::span<const std::uint8_t> pixels) {
    const PixelRect whole{0, 0, m_size, m_size};
    send_frame(window, pixels, {&whole, 1});
}

void DockWindow::send_frame(std::uint32_t window, std::span<const std::uint8_t> pixels,
                            std::span<const PixelRect> rects) {
    // The image always covers the whole window; another length is a mistake of the caller.
    const std::size_t expected = std::size_t{m_size} * m_size * 4;
    if (pixels.size() != expected) throw std::invalid_argument("frame buffer has the wrong size");
    if (shares_memory() && m_shm->owns(pixels))
        m_shm->put(window, m_gc, m_size, m_root_depth, pixels, rects);
    else
        m_put_image->put(window, m_gc, m_root_depth, pixels, rects);
}

void DockWindow::flush() {
    xcb_connection_t* c = m_connection.get();
    if (xcb_flush(c) <= 0 || xcb_connection_has_error(c))
        throw_connection_error("Lost connection to the X server");
}

int DockWindow::event_fd() const noexcept {
    return xcb_get_file_descriptor(m_connection.get());
}

std::span<const std::uint32_t> DockWindow::viewable_targets() const noexcept {
    return m_watch->viewability().viewable();
}

DisplayEvent DockWindow::poll_event(bool read) {
    xcb_connection_t* c = m_connection.get();
    XcbPtr<xcb_generic_event_t> event(read ? xcb_poll_for_event(c) : xcb_poll_for_queued_event(c));
    // No event is either an empty queue or a dead connection; only the latter is an error.
    if (!event) {
        if (xcb_connection_has_error(c)) throw_connection_error("Lost connection to the X server");
        // The clock is read only while a smaller view waits to be told.
        Viewability& viewability = m_watch->viewability();
        if (viewability.shown_smaller_untold()) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            const auto now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(now);
            if (const std::optional<Extent> shown = viewability.take_shown_smaller(now_ms.count()))
                return {DisplayEvent::Kind::shown_smaller, 0, *shown};
        }
        return {};
    }
    // Completions free a shared segment; an error on that path turns it off, and what the segments
    // held no longer counts.
    if (m_shm && m_shm->take_event(*event)) {
        if (!m_shm->failed() || std::exchange(m_shm_lost_told, true))
            return {DisplayEvent::Kind::other, 0};
        return {DisplayEvent::Kind::memory_lost, 0};
    }
    // The top bit only says that another client sent the event.
    switch (event->response_type & 0x7f) {
    case XCB_EXPOSE: {
        // Frames send only what changed, so a lost part would stay lost without a whole one.
        const auto* exposed = reinterpret_cast<const xcb_expose_event_t*>(event.get());
        if (exposed->window == m_window || exposed->window == m_icon_window)
            return {DisplayEvent::Kind::exposed, 0};
        break;
    }
    case XCB_BUTTON_PRESS: {
        const auto* press = reinterpret_cast<const xcb_button_press_event_t*>(event.get());
        if (press->event != m_input_window && press->event != m_icon_input_window) break;
        return {DisplayEvent::Kind::button_press, press->detail};
    }
    case XCB_CLIENT_MESSAGE: {
        const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
        if (message->data.data32[0] == m_delete_window_atom)
            return {DisplayEvent::Kind::close_request, 0};
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        // Holders are watched too; only the end of one of the two windows ends the run.
        const auto* gone = reinterpret_cast<const xcb_destroy_notify_event_t*>(event.get());
        if (gone->window == m_window || gone->window == m_icon_window)
            return {DisplayEvent::Kind::destroyed, 0};
        break;
    }
    default:
        if (m_watch->note(*event) == HolderWatch::Change::new_view)
            return {DisplayEvent::Kind::exposed, 0};
        break;
    }
    return {DisplayEvent::Kind::other, 0};
}

} // namespace glyphrain

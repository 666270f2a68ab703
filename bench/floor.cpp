// SPDX-License-Identifier: MIT
// The least a frame of this design can cost: clear a size x size client buffer, write a few
// thousand pixels and ship it with one PutImage and a flush. bench/frame_cost.sh runs it beside
// the real program on the same kind of server.
//
// usage: floor pacedMS|put SIZE SECONDS [PIXELS]
//   pacedMS  one frame every MS milliseconds on absolute deadlines, as the program paces itself
//   put      frames back to back
//   PIXELS   pixel writes per frame (default 4096)
// XVFB_PID in the environment names the X server whose CPU time is measured too.
// Prints one line of key=value pairs: frames, fps, client_us and server_us (CPU per frame),
// hwm_kb (peak resident memory).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <xcb/xcb.h>

namespace {

double now_s() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU time of a process from /proc/PID/schedstat in seconds; -1 when it cannot be read.
double cpu_s(const std::string& pid) {
    const std::string path = "/proc/" + pid + "/schedstat";
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return -1;
    unsigned long long ns = 0;
    const int read = std::fscanf(f, "%llu", &ns);
    std::fclose(f);
    return read == 1 ? static_cast<double>(ns) * 1e-9 : -1;
}

long peak_resident_kb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
    std::fclose(f);
    return kb;
}

struct Disconnect {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s pacedMS|put SIZE SECONDS [PIXELS]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const int size = std::atoi(argv[2]);
    const double seconds = std::atof(argv[3]);
    const int pixels = argc > 4 ? std::atoi(argv[4]) : 4096;
    const long paced_ms = mode.rfind("paced", 0) == 0 ? std::atol(mode.c_str() + 5) : 0;
    if (size < 1 || size > 4096 || seconds <= 0 || pixels < 0 || (mode != "put" && paced_ms <= 0)) {
        std::fprintf(stderr, "floor: bad arguments\n");
        return 2;
    }
    const char* server_pid = std::getenv("XVFB_PID");

    int screen_number = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> conn(xcb_connect(nullptr, &screen_number));
    if (xcb_connection_has_error(conn.get()) != 0) {
        std::fprintf(stderr, "floor: cannot connect to the X server\n");
        return 1;
    }
    xcb_connection_t* c = conn.get();
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen_number; ++i)
        xcb_screen_next(&it);
    const xcb_screen_t* screen = it.data;

    const auto side = static_cast<std::uint16_t>(size);
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t values[] = {screen->black_pixel, XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(c, screen->root_depth, window, screen->root, 0, 0, side, side, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);
    xcb_map_window(c, window);
    xcb_flush(c);
    // Draw only once the window is viewable.
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const bool exposed = (event->response_type & 0x7f) == XCB_EXPOSE;
        std::free(event);
        if (exposed) break;
    }

    const std::size_t count = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
    std::vector<std::uint32_t> buffer(count);
    std::uint32_t rng = 0x9E3779B9u;

    const double client0 = cpu_s("self");
    const double server0 = server_pid != nullptr ? cpu_s(server_pid) : -1;
    const double start = now_s();
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    long frames = 0;
    double elapsed = 0;
    do {
        std::memset(buffer.data(), 0, count * sizeof(std::uint32_t));
        for (int i = 0; i < pixels; ++i) {
            // xorshift: scattered writes the optimiser cannot predict, like glyph blits.
            rng ^= rng << 13;
            rng ^= rng >> 17;
            rng ^= rng << 5;
            buffer[rng % count] = 0xff00ff00u | (rng & 0xffu);
        }
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, side, side, 0, 0, 0,
                      screen->root_depth, static_cast<std::uint32_t>(count * sizeof(std::uint32_t)),
                      reinterpret_cast<const std::uint8_t*>(buffer.data()));
        xcb_flush(c);
        ++frames;
        if (paced_ms > 0) {
            due.tv_nsec += paced_ms * 1000000L;
            due.tv_sec += due.tv_nsec / 1000000000L;
            due.tv_nsec %= 1000000000L;
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        }
        elapsed = now_s() - start;
    } while (elapsed < seconds);
    // One round trip at the end, so the server's share includes every frame sent.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    elapsed = now_s() - start;
    const double client1 = cpu_s("self");
    const double server1 = server_pid != nullptr ? cpu_s(server_pid) : -1;
    if (xcb_connection_has_error(c) != 0) {
        std::fprintf(stderr, "floor: the connection to the X server broke\n");
        return 1;
    }

    const double per_frame = 1e6 / static_cast<double>(frames);
    std::printf("mode=%s size=%d frames=%ld wall_s=%.3f fps=%.1f client_us=%.2f server_us=%.2f "
                "hwm_kb=%ld\n",
                mode.c_str(), size, frames, elapsed, static_cast<double>(frames) / elapsed,
                (client1 - client0) * per_frame,
                server0 >= 0 && server1 >= 0 ? (server1 - server0) * per_frame : -1.0,
                peak_resident_kb());
    return 0;
}

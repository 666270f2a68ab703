// SPDX-License-Identifier: MIT
// The running-app fixture of the reload, click and storm tests, and the palette judge of frames.
#include "support/running_app.hpp"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>

#include "support/proc_probe.hpp"
#include "support/process_runner.hpp"

namespace glyphrain::test {
namespace {

constexpr int k_start_timeout_ms = 30000;
constexpr int k_bevel = 4;

int channel(std::uint32_t pixel, int shift) {
    return static_cast<int>((pixel >> shift) & 0xff);
}

/// True when pixel is ink times some factor, each channel truncated (hence the tolerance).
bool is_scaled_ink(std::uint32_t pixel, std::uint32_t ink) {
    const std::array<int, 3> shifts{16, 8, 0};
    int strongest = 16;
    for (int s : shifts)
        if (channel(ink, s) > channel(ink, strongest)) strongest = s;
    const double factor =
        static_cast<double>(channel(pixel, strongest)) / std::max(1, channel(ink, strongest));
    return std::all_of(shifts.begin(), shifts.end(), [&](int s) {
        return std::abs(channel(pixel, s) - channel(ink, s) * factor) <= 1.5;
    });
}

} // namespace

bool frame_matches(const Image& image, int size, const Palette& palette) {
    const auto n = static_cast<std::size_t>(size);
    if (image.size() != n * n) return false;
    if (image[n / 2] != palette.bevel_shadow) return false; // top edge of the outer ring
    for (std::size_t y = k_bevel; y < n - k_bevel; ++y)
        for (std::size_t x = k_bevel; x < n - k_bevel; ++x) {
            const std::uint32_t p = image[y * n + x];
            if (p == 0) continue;
            if (std::none_of(palette.inks.begin(), palette.inks.end(),
                             [&](std::uint32_t ink) { return is_scaled_ink(p, ink); }))
                return false;
        }
    return true;
}

bool frame_is_lit(const Image& image, int size, int min_pixels) {
    const auto n = static_cast<std::size_t>(size);
    if (image.size() != n * n) return false;
    int lit = 0;
    for (std::size_t y = k_bevel; y < n - k_bevel; ++y)
        for (std::size_t x = k_bevel; x < n - k_bevel; ++x)
            lit += image[y * n + x] != 0;
    return lit >= min_pixels;
}

RunningApp::RunningApp(const Options& options) : m_x(m_server.display()), m_size(options.size) {
    if (options.config) write_config(*options.config);
    auto env = app_env(m_server.display(), m_home.path());
    for (const auto& [name, value] : options.env)
        env[name] = value;
    m_process = std::make_unique<BackgroundProcess>(glyphrain_binary(), options.args, env,
                                                    m_home.path(), options.stderr_path);
    if (auto w = m_x.wait_for_dock_window(k_start_timeout_ms)) m_window = *w;
    if (m_window == XCB_NONE) return;
    // The first frame comes after the SIGHUP handler is installed: only then may tests signal.
    m_started = wait_for_frame(
        [&](const Image& img) { return !img.empty() && img[static_cast<std::size_t>(m_size) / 2]; },
        k_start_timeout_ms);
}

RunningApp::~RunningApp() {
    // Commands still running would outlive the test; glyphRain reaps them once they are killed.
    if (m_process->pid() > 0) {
        for (pid_t child : children_of(m_process->pid()))
            if (auto st = proc_stat(child); st && st->state != 'Z') ::kill(child, SIGKILL);
        (void)eventually([&] { return children_of(m_process->pid()).empty(); }, 2000);
    }
    m_process->stop();
}

std::string RunningApp::config_file() const {
    return m_home.path() + "/config/glyphRain/config";
}

int RunningApp::count_in_err(const std::string& text) const {
    const std::string all = err();
    int n = 0;
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size()))
        ++n;
    return n;
}

bool RunningApp::wait_for_count(const std::string& text, int n, int timeout_ms) const {
    return eventually([&] { return count_in_err(text) >= n; }, timeout_ms);
}

void RunningApp::write_config(const std::string& text) const {
    const std::string path = config_file();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    write_file(path + ".new", text);
    std::filesystem::rename(path + ".new", path);
}

void RunningApp::click(std::uint8_t button, int x, int y) {
    // Without a window manager the dock window sits at the root's origin.
    if (x < 0) x = m_size / 2;
    if (y < 0) y = m_size / 2;
    m_x.click(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), button);
}

void RunningApp::hangup() const {
    ::kill(m_process->pid(), SIGHUP);
}

std::optional<int> RunningApp::close_and_wait(int timeout_ms) {
    m_x.send_delete_window(m_window);
    return m_process->wait_exit(timeout_ms);
}

Image RunningApp::image() {
    const auto edge = static_cast<std::uint16_t>(m_size);
    return m_x.image(m_window, 0, 0, edge, edge);
}

bool RunningApp::wait_for_frame(const std::function<bool(const Image&)>& pred, int timeout_ms) {
    return eventually([&] { return pred(image()); }, timeout_ms);
}

int RunningApp::frame_changes(int duration_ms) {
    const long long deadline = now_ms() + duration_ms;
    Image last = image();
    int changes = 0;
    while (!deadline_passed(deadline)) {
        sleep_ms(2);
        Image next = image();
        if (next != last) ++changes;
        last = std::move(next);
    }
    return changes;
}

} // namespace glyphrain::test

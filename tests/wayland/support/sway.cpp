// SPDX-License-Identifier: MIT
// sway's start-up in a runtime directory of its own, swaymsg and grim on it, and the bare server.
#include "support/sway.hpp"

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include <wayland-server.h>

#include "support/proc_probe.hpp"
#include "support/process_runner.hpp"
#include "support/xvfb.hpp"

namespace glyphrain::test {
namespace {

constexpr uid_t k_nobody = 65534;
constexpr int k_start_timeout_ms = 10000;

bool on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The bare server's objects take every request: the objects a request makes are as inert as their
// parent, destroy destroys, everything else is ignored.
int accept_request(const void*, void* target, std::uint32_t, const wl_message* message,
                   wl_argument* args);

void make_inert(wl_client* client, const wl_interface* interface, int version, std::uint32_t id) {
    wl_resource* resource = wl_resource_create(client, interface, version, id);
    if (resource == nullptr) {
        wl_client_post_no_memory(client);
        return;
    }
    wl_resource_set_dispatcher(resource, accept_request, nullptr, nullptr, nullptr);
}

int accept_request(const void*, void* target, std::uint32_t, const wl_message* message,
                   wl_argument* args) {
    auto* resource = static_cast<wl_resource*>(target);
    int arg = 0;
    for (const char* c = message->signature; *c != '\0'; ++c) {
        if (std::isdigit(static_cast<unsigned char>(*c)) || *c == '?') continue;
        if (*c == 'n')
            make_inert(wl_resource_get_client(resource), message->types[arg],
                       wl_resource_get_version(resource), args[arg].n);
        ++arg;
    }
    if (std::strcmp(message->name, "destroy") == 0) wl_resource_destroy(resource);
    return 0;
}

void bind_compositor(wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
    make_inert(client, &wl_compositor_interface, static_cast<int>(version), id);
}

[[noreturn]] void serve_bare(const std::string& dir) {
    ::signal(SIGTERM, SIG_DFL);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    wl_display* display = wl_display_create();
    if (display == nullptr || wl_display_add_socket(display, "wayland-0") != 0 ||
        wl_global_create(display, &wl_compositor_interface, 4, nullptr, bind_compositor) == nullptr)
        ::_exit(1);
    wl_display_run(display);
    ::_exit(0);
}

} // namespace

std::optional<std::string> sway_missing() {
    std::vector<std::string> tools{"sway", "swaymsg", "grim"};
    if (::geteuid() == 0) tools.push_back("setpriv");
    for (const std::string& tool : tools)
        if (!on_path(tool)) return tool + " is not installed (scripts/install-deps test)";
    return std::nullopt;
}

SwayServer::SwayServer() {
    const std::string config = m_dir.file("config");
    write_file(config, "output HEADLESS-1 resolution " + std::to_string(k_output_width) + "x" +
                           std::to_string(k_output_height) + " position 0 0\nxwayland disable\n");
    std::vector<std::string> command{"sway", "-c", config};
    if (::geteuid() == 0) {
        if (::chown(m_dir.path().c_str(), k_nobody, k_nobody) != 0 ||
            ::chmod(config.c_str(), 0644) != 0)
            throw std::runtime_error("cannot hand " + m_dir.path() + " to nobody");
        command.insert(command.begin(),
                       {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    const Environment env{{"XDG_RUNTIME_DIR", m_dir.path()}, {"HOME", m_dir.path()},
                          {"WLR_BACKENDS", "headless"},      {"WLR_RENDERER", "pixman"},
                          {"WLR_LIBINPUT_NO_DEVICES", "1"},  {"DISPLAY", std::nullopt},
                          {"WAYLAND_DISPLAY", std::nullopt}, {"WAYLAND_SOCKET", std::nullopt},
                          {"SWAYSOCK", std::nullopt}};
    m_pid = spawn_logged(command[0], {command.begin() + 1, command.end()}, env, "/dev/null",
                         m_dir.file("sway.log"));
    bool died = false;
    const bool up = eventually(
        [&] {
            died = wait_for_exit(m_pid, 0).has_value();
            for (const std::string& name : directory_entries(m_dir.path())) {
                if (starts_with(name, "wayland-") && name.find('.') == std::string::npos)
                    m_socket = name;
                if (starts_with(name, "sway-ipc.")) m_ipc_socket = m_dir.file(name);
            }
            if (died || m_socket.empty() || m_ipc_socket.empty()) return died;
            const std::optional<std::string> outputs = swaymsg({"-t", "get_outputs"});
            return outputs && outputs->find("\"HEADLESS-1\"") != std::string::npos;
        },
        k_start_timeout_ms);
    if (up && !died) return;
    if (!died) stop_process(m_pid);
    m_pid = -1;
    std::string log = read_file(m_dir.file("sway.log"));
    if (log.size() > 2000) log = log.substr(log.size() - 2000);
    throw std::runtime_error("sway did not start" + std::string(died ? "" : " in time") + ":\n" +
                             log);
}

SwayServer::~SwayServer() {
    stop_process(m_pid);
}

Environment SwayServer::client_env() const {
    return {{"XDG_RUNTIME_DIR", m_dir.path()},
            {"WAYLAND_DISPLAY", m_socket},
            {"WAYLAND_SOCKET", std::nullopt},
            {"DISPLAY", std::nullopt}};
}

std::optional<std::string> SwayServer::swaymsg(const std::vector<std::string>& args) const {
    ProcessOptions options;
    options.args = {"-s", m_ipc_socket};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.timeout_ms = 5000;
    ProcessResult result = run_process("swaymsg", options);
    if (result.status != 0) return std::nullopt;
    return std::move(result.out);
}

std::vector<std::uint32_t> SwayServer::grim(int x, int y, int width, int height) const {
    ProcessOptions options;
    options.args = {"-t", "ppm", "-g",
                    std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) +
                        "x" + std::to_string(height),
                    "-"};
    options.env = client_env();
    options.timeout_ms = 5000;
    const ProcessResult result = run_process("grim", options);
    // P6, width, height, 255 and one blank, then a red, green and blue byte per pixel.
    std::istringstream in(result.out);
    std::string magic;
    int w = 0, h = 0, max = 0;
    if (result.status != 0 || !(in >> magic >> w >> h >> max) || magic != "P6" || w != width ||
        h != height || max != 255)
        return {};
    in.get();
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (std::uint32_t& pixel : pixels) {
        unsigned char rgb[3];
        if (!in.read(reinterpret_cast<char*>(rgb), 3)) return {};
        pixel = std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
    }
    return pixels;
}

void SwayServer::kill_now() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    (void)wait_for_exit(m_pid, 10000);
    m_pid = -1;
}

BareWaylandServer::BareWaylandServer() {
    m_pid = ::fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) serve_bare(m_dir.path());
    if (!eventually([&] { return file_exists(m_dir.file("wayland-0")); }, k_start_timeout_ms)) {
        stop_process(m_pid);
        throw std::runtime_error("the bare Wayland server did not start");
    }
}

BareWaylandServer::~BareWaylandServer() {
    stop_process(m_pid);
}

Environment BareWaylandServer::client_env() const {
    return {{"XDG_RUNTIME_DIR", m_dir.path()},
            {"WAYLAND_DISPLAY", "wayland-0"},
            {"WAYLAND_SOCKET", std::nullopt}};
}

} // namespace glyphrain::test

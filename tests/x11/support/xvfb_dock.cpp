// SPDX-License-Identifier: MIT
// The in-process X tests' window: DISPLAY and GLYPHRAIN_NO_SHM set only while it is opened.
#include "support/xvfb_dock.hpp"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <xcb/xcb.h>

namespace glyphrain::test {

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (m_old)
        ::setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

XvfbDock::XvfbDock(const DockOptions& options) : x(server.display()) {
    if (options.core_length) {
        proxy.emplace(server.display());
        if (XClient(proxy->display()).max_request_bytes() != 262140u)
            throw std::runtime_error("the relay did not hide BIG-REQUESTS");
    }
    {
        ScopedEnv display("DISPLAY", proxy ? proxy->display() : server.display());
        std::optional<ScopedEnv> no_shm;
        if (options.no_shm) no_shm.emplace("GLYPHRAIN_NO_SHM", "1");
        window = std::make_unique<DockWindow>(options.size, options.slit, options.command);
    }
    for (int i = 0; i < 200 && x.attributes(window->window()).map_state != XCB_MAP_STATE_VIEWABLE;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace glyphrain::test

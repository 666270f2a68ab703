// SPDX-License-Identifier: MIT
#include "app/background.hpp"

#include <csignal>

#include <gtest/gtest.h>

namespace glyphrain {
namespace {

TEST(ReloadRequest, SighupRaisesTheFlagOnceUntilTaken) {
    install_reload_handler();
    (void)take_reload_request();
    EXPECT_FALSE(take_reload_request());
    std::raise(SIGHUP);
    std::raise(SIGHUP); // several signals between two passes are one request
    EXPECT_TRUE(take_reload_request());
    EXPECT_FALSE(take_reload_request());
    std::raise(SIGHUP); // the handler stays installed after a delivery
    EXPECT_TRUE(take_reload_request());
    std::signal(SIGHUP, SIG_DFL);
}

} // namespace
} // namespace glyphrain

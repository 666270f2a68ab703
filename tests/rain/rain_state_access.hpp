// SPDX-License-Identifier: MIT
// The tests' way into a RainState: its generator and its drops, to start from a chosen draw or
// drop.
#pragma once

#include <vector>

#include "rain/rain_state.hpp"

namespace glyphrain {

struct RainStateAccess {
    static Xorshift64& rng(RainState& rain) noexcept { return rain.m_rng; }
    static std::vector<RainColumn>& columns(RainState& rain) noexcept { return rain.m_columns; }
};

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Float-to-integer conversion that clamps at the target's limits instead of overflowing.
#pragma once

#include <cmath>
#include <concepts>
#include <limits>

namespace glyphrain {

/// value truncated toward zero and clamped to T's range; NaN gives 0. Font metrics come from
/// untrusted files, so no conversion of theirs may overflow.
template <std::integral T> T saturate_cast(float value) noexcept {
    if (std::isnan(value)) return 0;
    // Both limits convert to exact powers of two (or zero), so the comparisons are exact.
    constexpr auto lowest = static_cast<float>(std::numeric_limits<T>::min());
    constexpr auto highest = static_cast<float>(std::numeric_limits<T>::max());
    if (value <= lowest) return std::numeric_limits<T>::min();
    if (value >= highest) return std::numeric_limits<T>::max();
    return static_cast<T>(value);
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// The events that Wayland listeners leave for the main loop, in a ring of fixed size, so that
// neither a frame nor a click allocates.
#pragma once

#include <array>
#include <cstddef>

#include "display/display.hpp"

namespace glyphrain {

/// Up to k_capacity events, taken in the order they came. A full ring drops what comes next:
/// that many clicks between two looks of the loop are not a rhythm anyone taps.
class EventRing {
  public:
    static constexpr std::size_t k_capacity = 16;

    /// Queues event; an `other` right behind another is one already, so it is not queued twice.
    /// False when the ring was full and event was dropped.
    bool push(const DisplayEvent& event) noexcept {
        if (event.kind == DisplayEvent::Kind::other && m_count > 0 &&
            m_events[(m_first + m_count - 1) % k_capacity].kind == DisplayEvent::Kind::other)
            return true;
        if (m_count == k_capacity) return false;
        m_events[(m_first + m_count) % k_capacity] = event;
        ++m_count;
        return true;
    }

    /// The oldest event, or one of kind none when the ring is empty.
    DisplayEvent pop() noexcept {
        if (m_count == 0) return {};
        const DisplayEvent event = m_events[m_first];
        m_first = (m_first + 1) % k_capacity;
        --m_count;
        return event;
    }

    bool empty() const noexcept { return m_count == 0; }

  private:
    std::array<DisplayEvent, k_capacity> m_events{};
    std::size_t m_first = 0;
    std::size_t m_count = 0;
};

} // namespace glyphrain

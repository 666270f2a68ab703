// SPDX-License-Identifier: MIT
// The frames shared with the Wayland compositor: two wl_shm buffers in one memory file, each
// written again only after the compositor has released it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "display/wayland/wl_ptr.hpp"

namespace glyphrain {

/// Two frames of size x size XRGB8888 pixels (stride size * 4) side by side in one memfd, made
/// once; each is a wl_buffer held by the compositor from its attach until its release. Free
/// buffers are handed out in turn.
class ShmBuffers {
  public:
    static constexpr std::size_t k_count = 2;

    /// Throws SystemError when the memory file cannot be made or mapped.
    ShmBuffers(wl_shm* shm, std::uint16_t size);
    ~ShmBuffers();
    ShmBuffers(const ShmBuffers&) = delete;
    ShmBuffers& operator=(const ShmBuffers&) = delete;

    /// A buffer the compositor does not hold, the one after the last handed out first; nothing
    /// while it holds both.
    std::optional<std::size_t> acquire() noexcept;
    /// The pixels of buffer i.
    std::span<std::uint8_t> bytes(std::size_t i) const noexcept;
    /// Which buffer memory is, when it is the whole of one.
    std::optional<std::size_t> index_of(std::span<const std::uint8_t> memory) const noexcept;
    /// Buffer i for an attach: from here the compositor holds it until it releases it.
    wl_buffer* attach(std::size_t i) noexcept;
    /// True once after the compositor has released a buffer.
    bool take_released() noexcept { return std::exchange(m_released, false); }
    /// Puts a new wl_buffer over the same memory in place of each one still held: the surface
    /// that held it is gone, and the compositor need not release a buffer of a gone surface.
    void renew_held() noexcept;

  private:
    struct Slot {
        ShmBuffers* owner = nullptr;
        WlPtr<wl_buffer> buffer;
        bool held = false;
    };
    /// The mapping of the memory file, unmapped last.
    struct Mapping {
        void* memory = nullptr;
        std::size_t size = 0;
        Mapping() = default;
        Mapping(const Mapping&) = delete;
        Mapping& operator=(const Mapping&) = delete;
        ~Mapping();
    };
    void make_buffer(std::size_t i) noexcept;

    Mapping m_mapping;
    WlPtr<wl_shm_pool> m_pool;
    std::array<Slot, k_count> m_slots{};
    std::size_t m_frame_bytes = 0;
    std::uint16_t m_size = 0;
    std::size_t m_next = 0;
    bool m_released = false;
};

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Frame memory shared with the compositor through wl_shm: one memfd, one pool, two buffers.
#include "display/wayland/shm_buffers.hpp"

#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

#include "system/error.hpp"
#include "system/unique_fd.hpp"

namespace glyphrain {

ShmBuffers::Mapping::~Mapping() {
    if (memory != nullptr) ::munmap(memory, size);
}

ShmBuffers::ShmBuffers(wl_shm* shm, std::uint16_t size)
    : m_frame_bytes(std::size_t{size} * size * 4), m_size(size) {
    const std::size_t total = m_frame_bytes * k_count;
    UniqueFd fd(::memfd_create("glyphRain-frames", MFD_CLOEXEC));
    if (!fd || ::ftruncate(fd.get(), static_cast<off_t>(total)) != 0) throw SystemError(errno);
    void* memory = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (memory == MAP_FAILED) throw SystemError(errno);
    m_mapping.memory = memory;
    m_mapping.size = total;
    // libwayland sends its own copy of the descriptor, so ours closes once the pool is asked for.
    m_pool.reset(wl_shm_create_pool(shm, fd.get(), static_cast<std::int32_t>(total)));
    if (!m_pool) throw SystemError(ENOMEM);
    for (std::size_t i = 0; i < k_count; ++i) {
        m_slots[i].owner = this;
        make_buffer(i);
        if (!m_slots[i].buffer) throw SystemError(ENOMEM);
    }
}

ShmBuffers::~ShmBuffers() = default;

void ShmBuffers::make_buffer(std::size_t i) noexcept {
    static constexpr wl_buffer_listener k_listener = {
        .release =
            [](void* data, wl_buffer*) {
                auto* slot = static_cast<Slot*>(data);
                slot->held = false;
                slot->owner->m_released = true;
            },
    };
    Slot& slot = m_slots[i];
    const auto edge = static_cast<std::int32_t>(m_size);
    slot.buffer.reset(wl_shm_pool_create_buffer(m_pool.get(),
                                                static_cast<std::int32_t>(i * m_frame_bytes), edge,
                                                edge, edge * 4, WL_SHM_FORMAT_XRGB8888));
    slot.held = false;
    if (slot.buffer) wl_buffer_add_listener(slot.buffer.get(), &k_listener, &slot);
}

std::optional<std::size_t> ShmBuffers::acquire() noexcept {
    for (std::size_t k = 0; k < k_count; ++k) {
        const std::size_t i = (m_next + k) % k_count;
        if (m_slots[i].held || !m_slots[i].buffer) continue;
        m_next = (i + 1) % k_count;
        return i;
    }
    return std::nullopt;
}

std::span<std::uint8_t> ShmBuffers::bytes(std::size_t i) const noexcept {
    return {static_cast<std::uint8_t*>(m_mapping.memory) + i * m_frame_bytes, m_frame_bytes};
}

std::optional<std::size_t>
ShmBuffers::index_of(std::span<const std::uint8_t> memory) const noexcept {
    for (std::size_t i = 0; i < k_count; ++i)
        if (memory.data() == bytes(i).data() && memory.size() == m_frame_bytes) return i;
    return std::nullopt;
}

wl_buffer* ShmBuffers::attach(std::size_t i) noexcept {
    m_slots[i].held = true;
    return m_slots[i].buffer.get();
}

void ShmBuffers::renew_held() noexcept {
    for (std::size_t i = 0; i < k_count; ++i)
        if (m_slots[i].held || !m_slots[i].buffer) make_buffer(i);
}

} // namespace glyphrain

// SPDX-License-Identifier: MIT
// Shared frame memory over libxcb-shm: a sealed memfd passed by descriptor where the server
// speaks MIT-SHM 1.2, else a SysV segment marked for removal before the server is told its id.
#include "display/x11/shm_frames.hpp"

#include <fcntl.h>
#include <optional>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <utility>

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include "display/x11/xcb_ptr.hpp"
#include "system/unique_fd.hpp"

namespace glyphrain {
namespace {

constexpr std::size_t k_no_segment = SegmentTurns::k_count;

/// Memory can only be shared with a server on this machine, reached through a local socket.
bool is_local_socket(int fd) noexcept {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    return address.ss_family == AF_UNIX;
}

/// Sends the attach and waits for its outcome: true when the server accepted it.
bool attach_accepted(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    XcbPtr<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    return !error && xcb_connection_has_error(c) == 0;
}

std::optional<ShmSegment> attach_memfd(xcb_connection_t* c, std::uint32_t id, std::size_t size) {
    UniqueFd fd(::memfd_create("glyphRain-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!fd || ::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) return std::nullopt;
    // Sealed at its size, so nobody can make the server read past the end of the file.
    (void)::fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
    void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (memory == MAP_FAILED) return std::nullopt;
    ShmSegment segment(ShmSegment::Kind::memfd, memory, size, id);
    // libxcb takes the descriptor over and closes it once it has been sent; the server only reads.
    if (!attach_accepted(c, xcb_shm_attach_fd_checked(c, id, fd.release(), 1))) return std::nullopt;
    return segment;
}

std::optional<ShmSegment> attach_sysv(xcb_connection_t* c, std::uint32_t id, std::size_t size) {
    const std::optional<SysvMapping> mapping = map_sysv_segment(size);
    if (!mapping) return std::nullopt;
    ShmSegment segment(ShmSegment::Kind::sysv, mapping->memory, size, id);
    if (!attach_accepted(
            c, xcb_shm_attach_checked(c, id, static_cast<std::uint32_t>(mapping->shmid), 1)))
        return std::nullopt;
    return segment;
}

} // namespace

std::optional<SysvMapping> map_sysv_segment(std::size_t size) noexcept {
    const int shmid = ::shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmid < 0) return std::nullopt;
    void* memory = ::shmat(shmid, nullptr, 0);
    // Marked at once, before anyone else is told its id: from here on a kill cannot leave it
    // behind, as it goes with its last attachment.
    ::shmctl(shmid, IPC_RMID, nullptr);
    if (memory == reinterpret_cast<void*>(-1)) return std::nullopt;
    return SysvMapping{shmid, memory};
}

std::optional<std::size_t> SegmentTurns::acquire() noexcept {
    for (std::size_t k = 0; k < k_count; ++k) {
        const std::size_t i = (m_next + k) % k_count;
        if (m_pending[i] != 0) continue;
        m_next = (i + 1) % k_count;
        return i;
    }
    return std::nullopt;
}

void SegmentTurns::sent(std::size_t i) noexcept {
    if (i < k_count) ++m_pending[i];
}

void SegmentTurns::completed(std::size_t i) noexcept {
    if (i < k_count && m_pending[i] > 0) --m_pending[i];
}

ShmSegment& ShmSegment::operator=(ShmSegment&& other) noexcept {
    if (this != &other) {
        reset();
        m_kind = other.m_kind;
        m_memory = std::exchange(other.m_memory, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void ShmSegment::reset() noexcept {
    if (m_memory == nullptr) return;
    if (m_kind == Kind::memfd)
        ::munmap(m_memory, m_size);
    else
        ::shmdt(m_memory);
    m_memory = nullptr;
    m_size = 0;
}

std::unique_ptr<ShmFrames> ShmFrames::open(xcb_connection_t* c, std::size_t frame_bytes) {
    if (!is_local_socket(xcb_get_file_descriptor(c))) return nullptr;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_shm_id);
    if (extension == nullptr || !extension->present) return nullptr;
    XcbPtr<xcb_shm_query_version_reply_t> version(
        xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
    if (!version) return nullptr;
    const auto at_least = [&](int major, int minor) {
        return version->major_version > major ||
               (version->major_version == major && version->minor_version >= minor);
    };
    if (!at_least(1, 1)) return nullptr;

    std::array<ShmSegment, SegmentTurns::k_count> segments;
    for (ShmSegment& segment : segments) {
        const std::uint32_t id = xcb_generate_id(c);
        if (id == UINT32_MAX) return nullptr;
        std::optional<ShmSegment> attached;
        // A descriptor crosses IPC namespaces, where a SysV id means nothing to the server.
        if (at_least(1, 2)) attached = attach_memfd(c, id, frame_bytes);
        if (!attached) attached = attach_sysv(c, id, frame_bytes);
        if (!attached) {
            for (const ShmSegment& held : segments)
                if (held.id() != 0) xcb_shm_detach(c, held.id());
            return nullptr;
        }
        segment = std::move(*attached);
    }
    return std::make_unique<ShmFrames>(c, std::move(segments), extension->major_opcode,
                                       extension->first_event);
}

ShmFrames::ShmFrames(xcb_connection_t* c, std::array<ShmSegment, SegmentTurns::k_count> segments,
                     std::uint8_t major_opcode, std::uint8_t first_event) noexcept
    : m_connection(c), m_segments(std::move(segments)), m_major_opcode(major_opcode),
      m_first_event(first_event) {}

std::span<std::uint8_t> ShmFrames::acquire() noexcept {
    if (m_failed) return {};
    const std::optional<std::size_t> i = m_turns.acquire();
    return i ? m_segments[*i].bytes() : std::span<std::uint8_t>{};
}

bool ShmFrames::owns(std::span<const std::uint8_t> pixels) const noexcept {
    for (const ShmSegment& segment : m_segments)
        if (!pixels.empty() && pixels.data() == segment.bytes().data()) return true;
    return false;
}

std::size_t ShmFrames::number_of(std::span<const std::uint8_t> pixels) const noexcept {
    for (std::size_t i = 0; i < m_segments.size(); ++i)
        if (!pixels.empty() && pixels.data() == m_segments[i].bytes().data()) return i + 1;
    return 0;
}

void ShmFrames::put(std::uint32_t drawable, std::uint32_t gc, std::uint16_t size,
                    std::uint8_t depth, std::span<const std::uint8_t> pixels,
                    std::span<const PixelRect> rects) noexcept {
    const std::size_t number = number_of(pixels);
    if (number == 0 || rects.empty()) return;
    const ShmSegment& segment = m_segments[number - 1];
    for (std::size_t k = 0; k < rects.size(); ++k) {
        const PixelRect& r = rects[k];
        const auto x = static_cast<std::uint16_t>(r.x), y = static_cast<std::uint16_t>(r.y);
        const auto w = static_cast<std::uint16_t>(r.width),
                   h = static_cast<std::uint16_t>(r.height);
        // The server handles a client's requests in order, so the last one's completion says
        // that the segment is no longer read.
        const std::uint8_t completion = k + 1 == rects.size() ? 1 : 0;
        xcb_shm_put_image(m_connection, drawable, gc, size, size, x, y, w, h,
                          static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), depth,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, completion, segment.id(), 0);
    }
    // A frame shown in two windows is counted twice, one completion each.
    m_turns.sent(number - 1);
}

bool ShmFrames::take_event(const xcb_generic_event_t& event) noexcept {
    const std::uint8_t type = event.response_type & 0x7f;
    if (type == m_first_event + XCB_SHM_COMPLETION) {
        const auto& done = reinterpret_cast<const xcb_shm_completion_event_t&>(event);
        const std::size_t i = index_of(done.shmseg);
        m_turns.completed(i);
        return true;
    }
    if (type != 0) return false;
    const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
    if (error.major_code != m_major_opcode && index_of(error.resource_id) == k_no_segment)
        return false;
    if (!m_failed) {
        // A request that failed never completes, so its segment could never be reused: give
        // shared memory up. Our mappings may go now; the server reads only its own.
        m_failed = true;
        for (ShmSegment& segment : m_segments) {
            xcb_shm_detach(m_connection, segment.id());
            segment.reset();
        }
        m_turns.clear();
    }
    return true;
}

std::size_t ShmFrames::index_of(std::uint32_t segment_id) const noexcept {
    for (std::size_t i = 0; i < m_segments.size(); ++i)
        if (m_segments[i].id() == segment_id && segment_id != 0) return i;
    return k_no_segment;
}

} // namespace glyphrain
